// Checks of the file names a run is given, made before anything is read or
// written: no special file where a regular one is expected, and no output
// that would overwrite one of the inputs.
#ifndef MORVANE_PATH_CHECKS_H
#define MORVANE_PATH_CHECKS_H

// Each prints the refusal and throws RunFailure.
void refuseSpecialInput(const char *name);   // a pipe or device would block or be consumed
void refuseSpecialOutput(const char *name);  // only a regular file can be replaced whole
void refuseOverwritingInputs(const char *raster, const char *input, const char *output);

#endif
