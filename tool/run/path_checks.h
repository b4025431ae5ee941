// Checks of the file names a run is given, made before anything is read or
// written: no special file where a regular one is expected, and no output
// that would overwrite one of the inputs.
#ifndef MORVANE_PATH_CHECKS_H
#define MORVANE_PATH_CHECKS_H

#include "raster/grid_file.h"
#include "run/output_target.h"

namespace morvane {

// Each prints the refusal and fails the run.
void refuseSpecialInput(const char *name);             // a pipe or device would block or be consumed
void refuseSpecialOutput(const OutputTarget &output);  // only a regular file can be replaced whole
// The input LAS and the grid's files are never overwritten.
void refuseOverwritingInputs(const GridFile &grid, const char *input, const OutputTarget &output);

}  // namespace morvane

#endif
