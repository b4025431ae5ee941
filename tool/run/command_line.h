// Command-line helpers of the tool: the synopsis and the file-name checks.
#ifndef MORVANE_COMMAND_LINE_H
#define MORVANE_COMMAND_LINE_H

#include <cstdint>

void usage();
// The form every name must have: longer than four characters, with a dot
// fourth from the end. Prints why not and returns -1.
int16_t checkNameForm(const char *filename);
// The form, and the extension itself (three letters, case-sensitive).
int16_t checkExtension(const char *filename, const char *extension);

#endif
