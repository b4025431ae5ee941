// Header statistics of a run of point records: count, per-return counts and
// the bounding box of the stored integers.
#ifndef LIDAR_POINT_STATS_H
#define LIDAR_POINT_STATS_H

#include "LiDAR.h"
#include "lidar/internal/unaligned.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

// The lane pass needs the processor's 32-bit vector minimum and maximum:
// x86-64's baseline lacks them (they take four instructions each there, and
// the pass one record at a time is then the faster), so on x86-64 it is
// compiled for SSE4.1 and taken only where the processor has that.
#if defined(__x86_64__) && !defined(__SSE4_1__)
#define LIDAR_LANE_PASS_TARGET __attribute__((target("sse4.1")))
#define LIDAR_LANE_PASS_CHECKED 1
#else
#define LIDAR_LANE_PASS_TARGET
#endif

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

    // The pass over a block of records: eight at a time, the extremes held
    // in eight lanes and the return numbers counted in byte counters, as
    // plain loops over arrays of eight that the compiler turns into vector
    // instructions; the last records one by one.
    void add(const uint8_t *records, size_t n, size_t recordSize)
    {
        if (!lanePassRuns()) {
            addOneByOne(records, n, recordSize);
            return;
        }
        switch (recordSize) {
        case 20: addInLanes<20>(records, n, recordSize); break;
        case 26: addInLanes<26>(records, n, recordSize); break;
        case 28: addInLanes<28>(records, n, recordSize); break;
        case 34: addInLanes<34>(records, n, recordSize); break;
        default: addInLanes<0>(records, n, recordSize); break;
        }
    }

    // The same statistics record by record: the tail of the lane pass, the
    // pass where it does not run, and what it is checked against.
    void addOneByOne(const uint8_t *records, size_t n, size_t recordSize)
    {
        // Four tallies used in turn: runs of records with the same return
        // number would otherwise wait on each other's increment.
        uint32_t tallies[4][8] = {};
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
            ++tallies[k % 4][rec[kBitfieldOffset] & 7u];
        }
        for (const auto &tally : tallies)
            for (size_t r = 0; r < 8; ++r)
                byReturn[r] += tally[r];
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
private:
    static constexpr size_t kBitfieldOffset = offsetof(LAS12fm0, bitfield);
    static constexpr size_t kLanes = 8;

    // X, Y and Z side by side, as a record's first 12 bytes hold them, and
    // a fourth lane that is not used.
    using Coordinates = int32_t __attribute__((vector_size(16)));

    static bool lanePassRuns()
    {
#ifdef LIDAR_LANE_PASS_CHECKED
        static const bool runs = __builtin_cpu_supports("sse4.1");
        return runs;
#else
        return true;
#endif
    }

    // Len: the record length where it is one of the standard ones (the
    // loads then have fixed offsets), 0 for any other.
    template <size_t Len>
    LIDAR_LANE_PASS_TARGET void addInLanes(const uint8_t *records, size_t n, size_t recordSize)
    {
        if constexpr (Len != 0)
            recordSize = Len;
        // Eight lanes, one per record of a group: record i of a group goes to
        // lane i, so that no lane waits on the one before. A lane's counts
        // are eight byte counters in one word, one per return number; a
        // byte takes 255 groups before it must be flushed.
        constexpr size_t kGroupsPerFlush = 255;
        const Coordinates lowStart = {minX, minY, minZ, 0}, highStart = {maxX, maxY, maxZ, 0};
        Coordinates low[kLanes], high[kLanes];
        for (size_t i = 0; i < kLanes; ++i)
            low[i] = lowStart, high[i] = highStart;
        const size_t groups = n / kLanes;
        size_t g = 0;
        while (g < groups) {
            const size_t flushAt = std::min(groups, g + kGroupsPerFlush);
            uint64_t counts[kLanes] = {};
            for (; g < flushAt; ++g) {
                const uint8_t *group = records + g * kLanes * recordSize;
                // Unrolled, so that the lanes stay in registers.
#pragma GCC unroll 8
                for (size_t i = 0; i < kLanes; ++i) {
                    const uint8_t *rec = group + i * recordSize;
                    const auto v = load_unaligned<Coordinates>(rec);
                    low[i] = v < low[i] ? v : low[i];
                    high[i] = v > high[i] ? v : high[i];
                    counts[i] += uint64_t{1} << ((rec[kBitfieldOffset] & 7u) * 8);
                }
            }
            for (size_t i = 0; i < kLanes; ++i)
                for (size_t r = 0; r < 8; ++r)
                    byReturn[r] += static_cast<uint32_t>((counts[i] >> (8 * r)) & 0xffu);
        }
        for (size_t i = 0; i < kLanes; ++i) {
            minX = std::min(minX, low[i][0]), maxX = std::max(maxX, high[i][0]);
            minY = std::min(minY, low[i][1]), maxY = std::max(maxY, high[i][1]);
            minZ = std::min(minZ, low[i][2]), maxZ = std::max(maxZ, high[i][2]);
        }
        count += static_cast<uint32_t>(groups * kLanes);
        addOneByOne(records + groups * kLanes * recordSize, n - groups * kLanes, recordSize);
    }
};

}  // namespace lidar

#endif
