// The header statistics' lane pass against the pass one record at a time:
// the same counts, per-return counts, bounds and header image on every shape
// of input the record loop hands it.
#include "lidar/internal/point_stats.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <random>
#include <vector>

namespace {

struct Survey {
    const char *name;
    size_t recordLength;
    size_t records;
    int32_t xBase, yBase, zBase;  // stored integers around which the points lie
    int32_t spread;               // how far from them, either way
    double scale, offsetX, offsetY;
    uint8_t returnMask;  // bits of the return byte left random
};

// UTM metres at millimetres, State Plane feet at hundredths, degrees at
// 1e-7, and the extremes of the 32-bit range; record lengths of the four
// formats and one with extra bytes; counts of 0, 1, short of a group, odd,
// and past one flush of the byte counters (255 groups of 8).
const Survey kSurveys[] = {
    {"no records", 28, 0, 0, 0, 0, 0, 0.001, 0.0, 0.0, 0xff},
    {"one record", 20, 1, 500'000, 5'000'000, 100, 0, 0.001, 0.0, 0.0, 0xff},
    {"seven records", 26, 7, 12'345, -67'890, -5, 1000, 0.01, 1'800'000.0, 600'000.0, 0xff},
    {"UTM metres, format 1", 28, 4'099, 4'123'456, 1'234'567, 45'000, 250'000, 0.001, 400'000.0, 5'000'000.0,
     0xff},
    {"State Plane feet, format 3", 34, 2'041, 150'000'000, 60'000'000, 12'000, 5'000'000, 0.01, 0.0, 0.0, 0xff},
    {"degrees, format 0", 20, 999, -1'224'000'000, 475'000'000, 3'000, 1'000'000, 1e-7, 0.0, 0.0, 0xff},
    {"extra bytes, length 37", 37, 1'003, 0, 0, 0, 1'000'000, 0.001, 0.0, 0.0, 0xff},
    {"the 32-bit extremes", 28, 513, 0, 0, 0, INT32_MAX, 0.001, 0.0, 0.0, 0xff},
    // Every record the same return number: a byte counter that were not
    // flushed in time would wrap.
    {"one return number, 10,000 records", 28, 10'000, 1'000, 2'000, 3'000, 10, 0.001, 0.0, 0.0, 0x00},
};

std::vector<uint8_t> records(const Survey &s, uint32_t seed)
{
    std::mt19937_64 random(seed);
    std::uniform_int_distribution<int64_t> offset(-int64_t{s.spread}, s.spread);
    auto near = [&](int32_t base) {
        return static_cast<int32_t>(std::clamp<int64_t>(base + offset(random), INT32_MIN, INT32_MAX));
    };
    std::vector<uint8_t> bytes(s.records * s.recordLength);
    for (size_t k = 0; k < s.records; ++k) {
        uint8_t *rec = bytes.data() + k * s.recordLength;
        for (size_t b = 12; b < s.recordLength; ++b)
            rec[b] = static_cast<uint8_t>(random());
        const int32_t xyz[3] = {near(s.xBase), near(s.yBase), near(s.zBase)};
        std::memcpy(rec, xyz, sizeof xyz);
        rec[14] = static_cast<uint8_t>((rec[14] & s.returnMask) | (s.returnMask == 0 ? 3 : 0));
    }
    return bytes;
}

void expectSame(const lidar::PointStats &lanes, const lidar::PointStats &plain, const Survey &s)
{
    EXPECT_EQ(lanes.count, plain.count);
    EXPECT_EQ(lanes.minX, plain.minX);
    EXPECT_EQ(lanes.maxX, plain.maxX);
    EXPECT_EQ(lanes.minY, plain.minY);
    EXPECT_EQ(lanes.maxY, plain.maxY);
    EXPECT_EQ(lanes.minZ, plain.minZ);
    EXPECT_EQ(lanes.maxZ, plain.maxZ);
    for (size_t r = 0; r < 8; ++r)
        EXPECT_EQ(lanes.byReturn[r], plain.byReturn[r]) << "return number " << r;
    LAS12Header a{}, b{};
    a.XScaleFactor = b.XScaleFactor = a.YScaleFactor = b.YScaleFactor = a.ZScaleFactor = b.ZScaleFactor = s.scale;
    a.XOffset = b.XOffset = s.offsetX;
    a.YOffset = b.YOffset = s.offsetY;
    lanes.apply(a);
    plain.apply(b);
    EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0) << "header images differ";
}

TEST(PointStats, LanePassEqualsPlainPass)
{
    for (const Survey &s : kSurveys) {
        SCOPED_TRACE(s.name);
        const std::vector<uint8_t> bytes = records(s, 28);
        lidar::PointStats lanes, plain;
        lanes.add(bytes.data(), s.records, s.recordLength);
        plain.addOneByOne(bytes.data(), s.records, s.recordLength);
        expectSame(lanes, plain, s);
        uint32_t total = 0;
        for (const uint32_t c : lanes.byReturn)
            total += c;
        EXPECT_EQ(total, s.records);
    }
}

// The record loop adds block after block: the lanes start from what the
// blocks before left, and the counts go on adding up.
TEST(PointStats, BlocksAddUpAsOnePass)
{
    for (const Survey &s : kSurveys) {
        SCOPED_TRACE(s.name);
        const std::vector<uint8_t> bytes = records(s, 6);
        lidar::PointStats blocks, plain;
        for (size_t first = 0; first < s.records;) {
            const size_t n = std::min<size_t>(s.records - first, 1 + first % 61);
            blocks.add(bytes.data() + first * s.recordLength, n, s.recordLength);
            first += n;
        }
        plain.addOneByOne(bytes.data(), s.records, s.recordLength);
        expectSame(blocks, plain, s);
    }
}

// The bounds of an empty pass are the refresh's own for a file without points.
TEST(PointStats, EmptyPassLeavesTheEmptyBounds)
{
    lidar::PointStats stats;
    stats.add(nullptr, 0, 28);
    LAS12Header h{};
    h.XScaleFactor = h.YScaleFactor = h.ZScaleFactor = 1.0;
    stats.apply(h);
    // Copied out: the header's fields are packed, not aligned.
    const uint32_t points = h.NumberOfPointReturns;
    const double maxX = h.MaxX, minX = h.MinX;
    EXPECT_EQ(points, 0u);
    EXPECT_EQ(maxX, -2147483646.0);
    EXPECT_EQ(minX, 2147483646.0);
}

}  // namespace
