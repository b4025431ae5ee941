// How the tool ends a run that cannot go on. failRun prints the refusal on
// the console and throws RunFailure; morvaneMain catches it and ends the run
// with status -1, and on the way the owners of files and buffers clean up
// (a partial output is removed by its owner, never left behind).
#ifndef MORVANE_RUN_FAILURE_H
#define MORVANE_RUN_FAILURE_H

namespace morvane {

struct RunFailure {};

// Prints the message (a printf format and its arguments), then throws.
[[noreturn]] void failRun(const char *format, ...) __attribute__((format(printf, 1, 2)));

// For a refusal that a library check has already printed.
[[noreturn]] void failRun();

}  // namespace morvane

#endif
