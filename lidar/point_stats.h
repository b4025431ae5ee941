// Header statistics of a run of point records: count, per-return counts and
// the bounding box of the stored integers.
#ifndef LIDAR_POINT_STATS_H
#define LIDAR_POINT_STATS_H

#include "LiDAR.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace lidar {

struct PointStats {
    // Start values of the refresh: X/Y two inside the 32-bit range, Z at
    // ten million raw units. An empty file keeps them in its bounds.
    int32_t maxX = -2147483646, minX = 2147483646;
    int32_t maxY = -2147483646, minY = 2147483646;
    int32_t maxZ = -10000000, minZ = 10000000;
    uint32_t count = 0;
    // Indexed by the 3-bit return number; slots 1..5 go to the header.
    uint32_t byReturn[8] = {};

    void add(const uint8_t *records, size_t n, size_t recordSize)
    {
        for (size_t k = 0; k < n; ++k) {
            const uint8_t *rec = records + k * recordSize;
            int32_t xyz[3];
            std::memcpy(xyz, rec, sizeof xyz);
            maxX = std::max(maxX, xyz[0]);
            minX = std::min(minX, xyz[0]);
            maxY = std::max(maxY, xyz[1]);
            minY = std::min(minY, xyz[1]);
            maxZ = std::max(maxZ, xyz[2]);
            minZ = std::min(minZ, xyz[2]);
            ++byReturn[rec[offsetof(LAS12fm0, bitfield)] & 7u];
        }
        count += static_cast<uint32_t>(n);
    }

    // Writes count, per-return counts and bounds into a header image,
    // scaling with that image's own factors and offsets.
    void apply(LAS12Header &h) const
    {
        h.NumberOfPointReturns = count;
        for (int r = 0; r < 5; ++r)
            h.NumberOfPointsByReturn[r] = byReturn[r + 1];
        h.MaxX = maxX * h.XScaleFactor + h.XOffset;
        h.MinX = minX * h.XScaleFactor + h.XOffset;
        h.MaxY = maxY * h.YScaleFactor + h.YOffset;
        h.MinY = minY * h.YScaleFactor + h.YOffset;
        h.MaxZ = maxZ * h.ZScaleFactor + h.ZOffset;
        h.MinZ = minZ * h.ZScaleFactor + h.ZOffset;
    }
};

}  // namespace lidar

#endif
