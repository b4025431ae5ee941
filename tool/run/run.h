// The whole run, as main performs it.
#ifndef MORVANE_RUN_H
#define MORVANE_RUN_H

namespace morvane {

// Returns the exit status 0 (points kept) or 1 (none), or -1 after the
// message of a failure.
int morvaneMain(int argc, char **argv);

}  // namespace morvane

#endif
