// The extent of a run of a LAS file's point records, read where they lie.
#ifndef LIDAR_RECORD_EXTENT_H
#define LIDAR_RECORD_EXTENT_H

#include "LiDAR.h"
#include "lidar/internal/point_stats.h"

#include <cstdint>

namespace lidar {

struct RecordExtent {
    PointStats stats;
    bool complete = true;  // false when the file ended or failed first
};

// Records [from, NumberOfPointReturns) of the file open on fd, by the
// header's offset and record length; the descriptor's position stays.
RecordExtent measure_records(int fd, const LAS12Header &h, uint64_t from);

}  // namespace lidar

#endif
