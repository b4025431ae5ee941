#include "lidar/internal/record_extent.h"

#include "lidar/internal/block_size.h"
#include "lidar/internal/read_at.h"

#include <algorithm>
#include <vector>

namespace lidar {

RecordExtent measure_records(int fd, const LAS12Header &h, uint64_t from)
{
    const size_t len = h.PointDataRecordLength;
    RecordExtent extent;
    if (len == 0)
        return extent;
    std::vector<uint8_t> block(std::max<size_t>(1, kBlockBytes / len) * len);
    uint64_t offset = h.OffsetToData + from * len;
    // The header's records only: bytes after them are no points.
    for (uint64_t left = h.NumberOfPointReturns > from ? h.NumberOfPointReturns - from : 0; left != 0;) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(left, block.size() / len)) * len;
        const size_t whole = read_at(fd, block.data(), want, offset).bytes / len;
        extent.stats.add(block.data(), whole, len);
        if (whole * len != want) {
            extent.complete = false;
            break;
        }
        offset += want;
        left -= whole;
    }
    return extent;
}

}  // namespace lidar
