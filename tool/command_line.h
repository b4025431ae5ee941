// Command-line helpers of the tool: the synopsis and the file-name form check.
#ifndef MORVANE_COMMAND_LINE_H
#define MORVANE_COMMAND_LINE_H

#include <cstdint>

void usage();
// Name-form check: longer than four characters, with a dot fourth from the end.
int16_t checkExtension(const char *filename, const char *extension);

// The whole run, as main performs it; returns the exit status 0 or 1, or
// ends the process with status -1.
int morvaneMain(int argc, char **argv);

#endif
