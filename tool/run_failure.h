// How the tool's own checks end a run. The message is on the console by the
// time RunFailure is thrown; morvaneMain catches it and ends the run with
// status -1, and on the way the owners of files and buffers clean up (a
// partial output is removed by its owner, never left behind).
#ifndef MORVANE_RUN_FAILURE_H
#define MORVANE_RUN_FAILURE_H

struct RunFailure {};

[[noreturn]] inline void failRun()
{
    throw RunFailure{};
}

#endif
