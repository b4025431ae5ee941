// The size of the blocks in which files are streamed: large reads and
// writes, and a block of records stays in the L2 cache from its read to its
// write.
#ifndef LIDAR_BLOCK_SIZE_H
#define LIDAR_BLOCK_SIZE_H

#include <cstddef>

namespace lidar {

constexpr size_t kBlockBytes = size_t{1} << 20;

}  // namespace lidar

#endif
