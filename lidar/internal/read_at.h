// Positioned reads, the one wrapper of pread(2) with its retry.
#ifndef LIDAR_READ_AT_H
#define LIDAR_READ_AT_H

#include <cstddef>
#include <cstdint>

namespace lidar {

struct ReadResult {
    size_t bytes;  // read; fewer than asked for at the end of the file or on an error
    int error;     // 0, or the failed read's errno
};

// Reads up to `bytes` bytes at `offset` without moving the descriptor's
// position, going on after short and interrupted reads until all are read,
// the file ends or a read fails.
ReadResult read_at(int fd, void *into, size_t bytes, uint64_t offset);

}  // namespace lidar

#endif
