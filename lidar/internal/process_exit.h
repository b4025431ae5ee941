// Ending the process from inside a check.
//
// The tools end the process with exit status -1 on a refusal. The fuzzing
// build (LIDAR_EXIT_THROWS) turns that exit into an exception so that one
// process can run many inputs; every path that exits therefore holds its
// files and buffers in RAII owners.
#ifndef LIDAR_PROCESS_EXIT_H
#define LIDAR_PROCESS_EXIT_H

namespace lidar {

struct ExitRequest {
    int status;
};

[[noreturn]] void process_exit(int status);

}  // namespace lidar

#endif
