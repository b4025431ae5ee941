// Command-line helpers of the tool: the synopsis and the file-name checks.
#ifndef MORVANE_COMMAND_LINE_H
#define MORVANE_COMMAND_LINE_H

#include <cstdint>

namespace morvane {

void usage();
// The form every name must have: longer than four characters, with a dot
// fourth from the end. Prints why not and returns -1.
int16_t checkNameForm(const char *filename);
// The form, and the extension itself (three letters, case-sensitive).
int16_t checkExtension(const char *filename, const char *extension);
// A limit of the window: a plain decimal number (check_numeric_argument),
// and not empty, as an unset shell variable gives it, which would read as
// 0. Prints "Invalid argument value (...)" and fails the run otherwise.
void checkLimit(const char *text);

}  // namespace morvane

#endif
