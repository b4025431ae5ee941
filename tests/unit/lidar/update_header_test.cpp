// update_header: recount, per-return counts, bounds, and nothing else.
#include "LiDAR.h"
#include "console_text.h"
#include "las_builder.h"
#include "reference.h"
#include "stdout_capture.h"
#include "test_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace test_support;

namespace {

// The refresh rewrites the point count, per-return counts and bounds from
// the whole records after OffsetToData, and no other byte.
void expectHeader(const std::string &before, const std::string &after)
{
    std::string expected = before;
    HeaderStats stats;
    const size_t offset = getLE<uint32_t>(before, 96), len = getLE<uint16_t>(before, 105);
    for (size_t at = offset; at + len <= before.size(); at += len)
        stats.add(before.substr(at, len));
    stats.applyTo(expected);
    EXPECT_EQ(byteDifference(after, expected), "");
}

// Points with coordinates in [-range, range] (Z a tenth of that) and any
// return byte.
std::vector<Point> randomPoints(uint32_t seed, size_t n, int32_t range)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int32_t> coord(-range, range);
    std::vector<Point> points(n);
    for (Point &p : points) {
        p.x = coord(rng);
        p.y = coord(rng);
        p.z = coord(rng) / 10;
        p.returnByte = static_cast<uint8_t>(rng() & 0xFF);
    }
    return points;
}

std::string refresh(const std::string &path)
{
    return capture_stdout([&] { update_header(path.c_str()); });
}

TEST(UpdateHeader, RecountsEveryFormat)
{
    TempDir dir;
    const std::string path = dir / "out.las";
    for (uint8_t format = 0; format < 4; ++format) {
        SCOPED_TRACE(int(format));
        LasSpec layout;
        layout.format = format;
        layout.scale[0] = 0.001;
        layout.offset[0] = 500000.0;
        layout.offset[2] = -12.5;
        layout.vlrBytes = buildVlr("LASF_Projection", 34735, std::string(16, 'k'));
        layout.numberOfVlrs = 1;
        layout.declaredCount = 77;  // stale: the refresh counts the records
        const std::vector<Point> points = {
            {10, -20, 30, 1}, {-5, 40, 25000000, 2},   {7, 7, -30000000, 0}, {INT32_MAX, INT32_MIN, 5, 6},
            {0, 0, 0, 7},     {3, 3, 3, 5 | (5 << 3)}, {4, 4, 4, 3 | 0xF8},  {1, 2, 3, 4}};
        const std::string before = buildLas(layout, points);
        writeFile(path, before);
        EXPECT_EQ(refresh(path), "\rHeader of file " + path + " has been updated    ");
        expectHeader(before, readFile(path));
    }
}

TEST(UpdateHeader, StreamsAcrossBlocksAndIgnoresATrailingPartialRecord)
{
    // 34-byte records do not divide the read blocks evenly; 200,000 of them
    // span several blocks.
    const std::vector<Point> points = randomPoints(7, 200000, 50000000);
    LasSpec layout;
    layout.format = 3;
    layout.scale[1] = 0.25;
    const std::string records = buildLas(layout, points);
    const std::string before = records + std::string(33, '\x7f');
    TempDir dir;
    const std::string path = dir / "big.las";
    writeFile(path, before);
    refresh(path);
    expectHeader(before, readFile(path));
}

TEST(UpdateHeader, EmptyFileKeepsTheStartValues)
{
    LasSpec layout;
    layout.format = 0;
    layout.scale[0] = 0.5;
    layout.offset[0] = 100.0;
    layout.declaredCount = 12;
    const std::string before = buildLas(layout, {});
    TempDir dir;
    const std::string path = dir / "empty.las";
    writeFile(path, before);
    refresh(path);
    const std::string after = readFile(path);
    expectHeader(before, after);
    EXPECT_EQ(getLE<double>(after, 179), -2147483646 * 0.5 + 100.0);
}

// Stored Z beyond ten million raw units either way (fine Z scales, or
// degrees at 1e-7) are the file's true extremes, and so are values at the
// very ends of the 32-bit range on every axis, even for a single point.
TEST(UpdateHeader, BoundsAreThePointsOwnAtAnyMagnitude)
{
    constexpr int32_t kTop = INT32_MAX, kBottom = INT32_MIN;
    const struct {
        std::vector<Point> points;
        int32_t max, min;  // on the axis the points vary in (Z, or all three)
        bool allAxes;
    } cases[] = {
        {{{1, 1, 20000000, 1}, {2, 2, 10000001, 1}}, 20000000, 10000001, false},
        {{{1, 1, -20000000, 1}, {2, 2, -10000001, 1}}, -10000001, -20000000, false},
        {{{1, 1, kTop, 1}, {2, 2, kBottom, 1}}, kTop, kBottom, false},
        {{{kTop, kTop, kTop, 1}}, kTop, kTop, true},
        {{{kBottom, kBottom, kBottom, 1}}, kBottom, kBottom, true},
        {{{kTop - 1, kTop - 1, kTop - 1, 1}, {kTop, kTop, kTop, 1}}, kTop, kTop - 1, true},
    };
    for (const auto &c : cases) {
        const std::string before = buildLas(LasSpec{}, c.points);
        TempDir dir;
        const std::string path = dir / "z.las";
        writeFile(path, before);
        refresh(path);
        const std::string after = readFile(path);
        for (size_t axis = c.allAxes ? 0 : 2; axis < 3; ++axis) {
            SCOPED_TRACE("axis " + std::to_string(axis) + ", max " + std::to_string(c.max));
            const double scale = getLE<double>(after, 131 + 8 * axis), offset = getLE<double>(after, 155 + 8 * axis);
            EXPECT_EQ(getLE<double>(after, 179 + 16 * axis), c.max * scale + offset);
            EXPECT_EQ(getLE<double>(after, 187 + 16 * axis), c.min * scale + offset);
        }
    }
}

TEST(UpdateHeader, TypeZeroUsesTheDeclaredRecordLength)
{
    // A 1.0 file declaring format 3: the records are as long as the header says.
    LasSpec layout;
    layout.versionMinor = 0;
    layout.format = 3;
    layout.recordLength = 34;
    const std::vector<Point> points = {{5, 6, 7, 1}, {-5, -6, -7, 2}, {9, 9, 9, 2}};
    const std::string before = buildLas(layout, points);
    TempDir dir;
    const std::string path = dir / "old.las";
    writeFile(path, before);
    refresh(path);
    expectHeader(before, readFile(path));
}

// update_header in a child must end it with status -1 and exactly `message`
// (%s standing for the path).
void expectRefusal(const std::string &path, const std::string &message)
{
    const std::string expected = withName(message, path);
    EXPECT_EXIT(
        {
            stdout_to_stderr();
            update_header(path.c_str());
        },
        ::testing::ExitedWithCode(255), exact_regex(expected));
}

TEST(UpdateHeaderDeath, RefusesAndLeavesTheFileAsItWas)
{
    GTEST_FLAG_SET(death_test_style, "fast");  // the child must see this temporary directory
    TempDir dir;
    LasSpec shortRecords;
    shortRecords.versionMinor = 1;
    shortRecords.format = 2;
    shortRecords.recordLength = 12;
    const struct {
        const char *label;
        std::string name;
        std::string bytes;
        std::string message;
    } cases[] = {
        {"shorter than a header", "short.las", buildHeader(LasSpec{}, 0).substr(0, 200),
         "\nFile %s is too short to hold a LAS header\n"},
        {"record length below 20 with type 0", "tiny.las", buildLas(shortRecords, {{1, 2, 3}}),
         "\nPoint record length of %s (12 bytes) is shorter than a LAS point record\n"},
        {"not a .las name", "points.txt", buildLas(LasSpec{}, {{1, 2, 3}}), "\nFile extension of %s is not .las\n"},
        {"not a LAS file", "junk.las", std::string(300, 'j'), "\n%s is not a valid .las file\n\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        const std::string path = dir / c.name;
        writeFile(path, c.bytes);
        expectRefusal(path, c.message);
        EXPECT_EQ(readFile(path), c.bytes);
    }
}

// An offset inside the header would count header bytes as records.
TEST(UpdateHeaderDeath, OffsetToDataInsideTheHeader)
{
    GTEST_FLAG_SET(death_test_style, "fast");
    TempDir dir;
    const std::string path = dir / "offset.las";
    const std::vector<Point> points = {{1, 2, 3, 1}, {-4, 5, 6, 2}};
    for (const uint32_t offset : {0u, 100u, 226u, 227u}) {
        SCOPED_TRACE(offset);
        LasSpec layout;
        layout.offsetToData = offset;
        const std::string before = buildLas(layout, points);
        writeFile(path, before);
        if (offset < 227) {
            expectRefusal(path,
                          "\nOffsetToData of %s (" + std::to_string(offset) + ") lies inside the 227-byte header\n");
            EXPECT_EQ(readFile(path), before);
        } else {
            refresh(path);
            expectHeader(before, readFile(path));
        }
    }
}

// 2^32 + 3 whole records, as a sparse file: the count would wrap to 3.
TEST(UpdateHeaderDeath, MoreRecordsThanTheHeaderCanCount)
{
    GTEST_FLAG_SET(death_test_style, "fast");
    TempDir dir;
    const std::string path = dir / "huge.las";
    LasSpec layout;
    layout.format = 0;
    const std::string head = buildLas(layout, {{1, 2, 3, 1}});
    writeFile(path, head);
    const uint64_t records = (uint64_t{1} << 32) + 3;
    const auto size = static_cast<off_t>(227 + records * 20);
    if (::truncate(path.c_str(), size) != 0)
        GTEST_SKIP() << "no sparse file of " << size << " bytes here: " << std::strerror(errno);
    expectRefusal(path, "\nFile %s holds 4294967299 point records, more than a LAS header can count (4294967295)\n");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, size);
    std::FILE *f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    std::string start(head.size(), '\0');
    EXPECT_EQ(std::fread(start.data(), 1, start.size(), f), start.size());
    std::fclose(f);
    EXPECT_EQ(start, head);
}

}  // namespace
