// Header statistics of a run of point records: count, per-return counts and
// the bounding box of the stored integers.
#ifndef LIDAR_POINT_STATS_H
#define LIDAR_POINT_STATS_H

#include "LiDAR.h"
#include "lidar/internal/unaligned.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace lidar {

struct PointStats {
    // The extremes start at the ends of the 32-bit range, so that every
    // stored value, Z included, can be one and the bounds are always some
    // point's own.
    int32_t maxX = INT32_MIN, minX = INT32_MAX;
    int32_t maxY = INT32_MIN, minY = INT32_MAX;
    int32_t maxZ = INT32_MIN, minZ = INT32_MAX;
    uint32_t count = 0;
    // Indexed by the 3-bit return number; slots 1..5 go to the header.
    uint32_t byReturn[8] = {};

    void add(const uint8_t *records, size_t n, size_t recordSize)
    {
        // Four tallies used in turn: runs of records with the same return
        // number would otherwise wait on each other's increment.
        uint32_t lanes[4][8] = {};
        for (size_t k = 0; k < n; ++k) {
            const uint8_t *rec = records + k * recordSize;
            const auto x = load_unaligned<int32_t>(rec);
            const auto y = load_unaligned<int32_t>(rec + 4);
            const auto z = load_unaligned<int32_t>(rec + 8);
            maxX = std::max(maxX, x);
            minX = std::min(minX, x);
            maxY = std::max(maxY, y);
            minY = std::min(minY, y);
            maxZ = std::max(maxZ, z);
            minZ = std::min(minZ, z);
            ++lanes[k % 4][rec[offsetof(LAS12fm0, bitfield)] & 7u];
        }
        for (const auto &lane : lanes)
            for (int r = 0; r < 8; ++r)
                byReturn[r] += lane[r];
        count += static_cast<uint32_t>(n);
    }

    // Writes count, per-return counts and bounds into a header image,
    // scaling with that image's own factors and offsets. A file without
    // points gets the bounds the refresh has always written for one: two
    // inside the 32-bit range, maxima below minima.
    void apply(LAS12Header &h) const
    {
        constexpr int32_t kEmptyMax = -2147483646, kEmptyMin = 2147483646;
        const bool empty = count == 0;
        h.NumberOfPointReturns = count;
        for (int r = 0; r < 5; ++r)
            h.NumberOfPointsByReturn[r] = byReturn[r + 1];
        h.MaxX = (empty ? kEmptyMax : maxX) * h.XScaleFactor + h.XOffset;
        h.MinX = (empty ? kEmptyMin : minX) * h.XScaleFactor + h.XOffset;
        h.MaxY = (empty ? kEmptyMax : maxY) * h.YScaleFactor + h.YOffset;
        h.MinY = (empty ? kEmptyMin : minY) * h.YScaleFactor + h.YOffset;
        h.MaxZ = (empty ? kEmptyMax : maxZ) * h.ZScaleFactor + h.ZOffset;
        h.MinZ = (empty ? kEmptyMin : minZ) * h.ZScaleFactor + h.ZOffset;
    }
};

}  // namespace lidar

#endif
