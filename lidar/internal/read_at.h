// Positioned reads, the one wrapper of pread(2) with its retry.
#ifndef LIDAR_READ_AT_H
#define LIDAR_READ_AT_H

#include <cstddef>
#include <cstdint>

namespace lidar {

// Reads up to `bytes` bytes at `offset` without moving the descriptor's
// position, going on after short and interrupted reads until all are read,
// the file ends or a read fails. Returns the bytes read; when that is fewer
// than asked for, errno is 0 at the end of the file, else the read's error.
size_t read_at(int fd, void *into, size_t bytes, uint64_t offset);

}  // namespace lidar

#endif
