// Every LAS file Morvane writes must read back cleanly with the independent
// reader of tests/support/las_reader.h: first the reader is shown to catch
// broken files, then it checks Morvane's outputs for every version and point
// format, with variable-length records, and for the third-party samples.
#include "las_builder.h"
#include "las_reader.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace {

using namespace test_support;

// --- the reader against files broken on purpose --------------------------

// Three format 1 points with their statistics written in by hand.
std::string consistentFile()
{
    LasSpec s;
    s.versionMinor = 2;
    s.format = 1;
    s.vlrBytes = buildVlr("LASF_Projection", 34735, std::string(16, '\x01'));
    s.numberOfVlrs = 1;
    std::string f = buildLas(s, {Point{100, 200, 300, 1}, Point{-50, 250, 310, 2}, Point{70, 180, 290, 1}});
    const uint32_t byReturn[5] = {2, 1, 0, 0, 0};
    for (size_t r = 0; r < 5; ++r)
        putLE<uint32_t>(f, 111 + 4 * r, byReturn[r]);
    // MaxX MinX MaxY MinY MaxZ MinZ at scale 0.01, offset 0.
    const double bounds[6] = {1.0, -0.5, 2.5, 1.8, 3.1, 2.9};
    for (size_t k = 0; k < 6; ++k)
        putLE<double>(f, 179 + 8 * k, bounds[k]);
    return f;
}

struct Breakage {
    const char *name;
    std::function<void(std::string &)> apply;
    std::string problem;  // a part of the expected description
};

void PrintTo(const Breakage &b, std::ostream *os) { *os << b.name; }

class ReaderCatches : public testing::TestWithParam<Breakage> {};

TEST(LasReader, AcceptsAConsistentFile)
{
    const std::string f = consistentFile();
    EXPECT_EQ(validateLas(f), "");
    LasFile parsed;
    ASSERT_EQ(readLas(f, parsed), "");
    ASSERT_EQ(parsed.vlrs.size(), 1u);
    EXPECT_EQ(parsed.vlrs[0].userId, "LASF_Projection");
    EXPECT_EQ(parsed.vlrs[0].recordId, 34735);
    EXPECT_EQ(parsed.vlrs[0].payload, std::string(16, '\x01'));
    ASSERT_EQ(parsed.records.size(), 3u);
    EXPECT_EQ(lasPointFields(parsed.records[1]).x, -50);
    EXPECT_EQ(lasPointFields(parsed.records[1]).returnNumber, 2u);
}

TEST_P(ReaderCatches, TheFirstProblem)
{
    std::string f = consistentFile();
    GetParam().apply(f);
    const std::string problem = validateLas(f);
    EXPECT_NE(problem.find(GetParam().problem), std::string::npos) << "reported: \"" << problem << "\"";
}

INSTANTIATE_TEST_SUITE_P(
    Breakages, ReaderCatches,
    testing::Values(
        Breakage{"Truncated", [](std::string &f) { f.resize(200); }, "shorter than the 227-byte"},
        Breakage{"Signature", [](std::string &f) { f[3] = 'f'; }, "LASF"},
        Breakage{"Version13", [](std::string &f) { f[25] = 3; }, "version 1.3"},
        Breakage{"Version20", [](std::string &f) { f[24] = 2; }, "version 2.2"},
        Breakage{"HeaderSizeSmall", [](std::string &f) { putLE<uint16_t>(f, 94, 226); }, "HeaderSize is 226"},
        Breakage{"OffsetInsideHeader", [](std::string &f) { putLE<uint32_t>(f, 96, 200); }, "inside the header"},
        Breakage{"OffsetPastEnd", [](std::string &f) { putLE<uint32_t>(f, 96, 100000); }, "past the end"},
        Breakage{"Format4", [](std::string &f) { f[104] = 4; }, "format 4"},
        Breakage{"Format2InLas11", [](std::string &f) { f[25] = 1; f[104] = 2; }, "not defined in LAS 1.1"},
        Breakage{"RecordTooShort", [](std::string &f) { putLE<uint16_t>(f, 105, 20); }, "too short for format 1"},
        Breakage{"ZeroScale", [](std::string &f) { putLE<double>(f, 139, 0.0); }, "Y scale factor"},
        Breakage{"NanOffset", [](std::string &f) { putLE<double>(f, 171, NAN); }, "Z offset"},
        Breakage{"MoreVlrsThanFit", [](std::string &f) { putLE<uint32_t>(f, 100, 2); }, "record 2 of 2 does not fit"},
        Breakage{"VlrPayloadTooLong", [](std::string &f) { putLE<uint16_t>(f, 227 + 20, 17); }, "runs into the point data"},
        Breakage{"CountTooHigh", [](std::string &f) { putLE<uint32_t>(f, 107, 4); }, "counts 4 point records, the file holds 3"},
        Breakage{"CountTooLow", [](std::string &f) { putLE<uint32_t>(f, 107, 2); }, "counts 2 point records, the file holds 3"},
        Breakage{"TrailingBytes", [](std::string &f) { f += "xy"; }, "not a whole number of 28-byte records"},
        Breakage{"MissingRecordBytes", [](std::string &f) { f.resize(f.size() - 1); }, "not a whole number"},
        Breakage{"PerReturnCount", [](std::string &f) { putLE<uint32_t>(f, 115, 0); }, "points of return 2"},
        Breakage{"PerReturnFifth", [](std::string &f) { putLE<uint32_t>(f, 127, 1); }, "points of return 5"},
        Breakage{"ReturnBitsOfARecord", [](std::string &f) { f[f.size() - 28 + 14] = 3; }, "points of return 1"},
        Breakage{"MaxX", [](std::string &f) { putLE<double>(f, 179, 1.5); }, "MaxX"},
        Breakage{"MinX", [](std::string &f) { putLE<double>(f, 187, -0.4); }, "MinX"},
        Breakage{"MaxY", [](std::string &f) { putLE<double>(f, 195, 2.49); }, "MaxY"},
        Breakage{"MinY", [](std::string &f) { putLE<double>(f, 203, 1.82); }, "MinY"},
        Breakage{"MaxZ", [](std::string &f) { putLE<double>(f, 211, 3.0); }, "MaxZ"},
        Breakage{"MinZ", [](std::string &f) { putLE<double>(f, 219, 2.92); }, "MinZ"},
        Breakage{"PointOutsideBounds", [](std::string &f) { putLE<int32_t>(f, f.size() - 28, 1000); }, "MaxX"}),
    [](const testing::TestParamInfo<Breakage> &i) { return std::string(i.param.name); });

// --- Morvane's outputs ----------------------------------------------------

// 2 x 2 cells of 10 m from (1000, 2000); north row 50 60, south row 30 40.
const std::string kGrid = asciiGrid(2, 2, "1000", "2000", "10", "-9999", {"50", "60", "30", "40"});

struct Placed {
    double x, y, z;
    uint8_t returnByte;
    bool kept;  // with limits 0 and 2
};

const std::vector<Placed> kPoints = {
    {1005, 2005, 31, 0x09, true},      // SW cell, return 1 of 1
    {1005, 2005, 35, 0x12, false},     // above the window
    {1005, 2015, 50, 0x0A, true},      // NW, at the low limit, return 2
    {1005.5, 2015, 52, 0x13, true},    // at the high limit, return 3
    {1005, 2015.5, 52.01, 0x0B, false},
    {1015, 2015, 61, 0x24, true},      // NE, return 4
    {1015, 2005, 41, 0x2D, true},      // SE, return 5
    {1015, 2005, 39.99, 0x29, false},  // below the window
    {995, 2005, 31, 0x09, false},      // west of the grid
    {1012, 2012, 60.5, 0x00, true},    // return number 0: in no per-return count
    {1018, 2001, 40, 0x36, true},      // return 6
    {1001, 2019, 51.5, 0x3F, true},    // return 7
    {1003.25, 2008.5, 30.25, 0x09, true},
};

struct Layout {
    uint8_t minor, format;
};

std::string nameOf(const Layout &l)
{
    return "v1" + std::to_string(l.minor) + "_format" + std::to_string(l.format);
}

void PrintTo(const Layout &l, std::ostream *os) { *os << nameOf(l); }

class OutputOf : public testing::TestWithParam<Layout> {};

TEST_P(OutputOf, ReadsBackWithTheRecordsSelectedAndTheVlrsKept)
{
    const Layout l = GetParam();
    LasSpec s;
    s.versionMinor = l.minor;
    s.format = l.format;
    s.scale[0] = s.scale[1] = s.scale[2] = 0.01;
    s.offset[0] = 1000;
    s.offset[1] = 2000;
    s.offset[2] = -5;
    s.vlrBytes = buildVlr("LASF_Projection", 34735, std::string("\x01\x00\x01\x00\x00\x00\x01\x00", 8)) +
                 buildVlr("morvane-test", 7, "payload bytes");
    s.numberOfVlrs = 2;
    if (l.minor == 0)
        s.vlrBytes += "\xDD\xCC";  // the 1.0 point data start signature
    std::vector<Point> points;
    for (const Placed &p : kPoints)
        points.push_back(Point{static_cast<int32_t>(std::lround((p.x - 1000) / 0.01)),
                               static_cast<int32_t>(std::lround((p.y - 2000) / 0.01)),
                               static_cast<int32_t>(std::lround((p.z + 5) / 0.01)), p.returnByte});
    const std::string input = buildLas(s, points);

    TempDir dir;
    writeFile(dir / "grid.asc", kGrid);
    writeFile(dir / "in.las", input);
    const RunResult r = runMorvane({"grid.asc", "in.las", "out.las", "0", "2"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string out = readFile(dir / "out.las");

    LasRules rules;
    rules.laterFormatsInOldVersions = l.minor < 2 && l.format > 1;
    ASSERT_EQ(validateLas(out, rules), "");

    LasFile f, in;
    ASSERT_EQ(readLas(out, f, rules), "");
    ASSERT_EQ(readLas(input, in, rules), "");
    std::vector<std::string> expected;
    for (size_t i = 0; i < kPoints.size(); ++i)
        if (kPoints[i].kept)
            expected.push_back(in.records[i]);
    EXPECT_EQ(f.records, expected);
    ASSERT_EQ(f.vlrs.size(), 2u);
    EXPECT_EQ(f.vlrs[1].userId, "morvane-test");
    EXPECT_EQ(f.vlrs[1].payload, "payload bytes");
    // Only the count, per-return counts and bounds may change.
    EXPECT_EQ(out.substr(0, 107), input.substr(0, 107));
    EXPECT_EQ(out.substr(131, 48), input.substr(131, 48));
    EXPECT_EQ(out.substr(227, f.offsetToData - 227), input.substr(227, in.offsetToData - 227));
}

INSTANTIATE_TEST_SUITE_P(
    AllVersionsAndFormats, OutputOf,
    testing::Values(Layout{0, 0}, Layout{0, 1}, Layout{1, 0}, Layout{1, 1}, Layout{2, 0}, Layout{2, 1},
                    Layout{2, 2}, Layout{2, 3},
                    // 1.0 and 1.1 files that declare the 1.2 formats are processed too.
                    Layout{0, 2}, Layout{0, 3}, Layout{1, 2}, Layout{1, 3}),
    [](const testing::TestParamInfo<Layout> &i) { return nameOf(i.param); });

TEST(OutputValidity, FromAFloatGridToo)
{
    TempDir dir;
    writeFile(dir / "grid.hdr", "ncols 2\nnrows 2\nxllcorner 1000\nyllcorner 2000\ncellsize 10\nNODATA_value -9999\n");
    writeFile(dir / "grid.flt", floatGrid({50, 60, 30, 40}));
    LasSpec s;
    s.format = 3;
    s.offset[0] = 1000;
    s.offset[1] = 2000;
    std::vector<Point> points;
    for (int i = 0; i < 400; ++i)
        points.push_back(Point{(i * 37) % 2000, (i * 53) % 2000, 3000 + (i * 7) % 5000,
                               static_cast<uint8_t>(i % 8)});
    writeFile(dir / "in.las", buildLas(s, points));
    const RunResult r = runMorvane({"grid.flt", "in.las", "out.las", "-20", "20"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(validateLas(readFile(dir / "out.las")), "");
}

// The third-party samples: each must read as valid itself, and so must what
// Morvane cuts out of it with a window that keeps every point.
class SharedSample : public testing::TestWithParam<const char *> {};

TEST_P(SharedSample, InputAndOutputReadBackValid)
{
    const std::string path = std::string(SHARED_DATA_DIR) + "/" + GetParam();
    if (!std::filesystem::exists(path))
        GTEST_SKIP() << path << " is absent";
    const std::string input = readFile(path);
    ASSERT_EQ(validateLas(input), "") << GetParam();
    LasFile in;
    ASSERT_EQ(readLas(input, in), "");

    // One cell over the whole cloud, at the cloud's lowest elevation.
    const double side = std::ceil(std::max(in.max[0] - in.min[0], in.max[1] - in.min[1])) + 2;
    char header[256];
    std::snprintf(header, sizeof header, "ncols 1\nnrows 1\nxllcorner %.3f\nyllcorner %.3f\ncellsize %.3f\n%.3f\n",
                  std::floor(in.min[0]) - 1, std::floor(in.min[1]) - 1, side, std::floor(in.min[2]) - 1);
    TempDir dir;
    writeFile(dir / "grid.asc", header);
    writeFile(dir / "in.las", input);
    const RunResult r = runMorvane({"grid.asc", "in.las", "out.las", "0", "1000000"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string out = readFile(dir / "out.las");
    EXPECT_EQ(validateLas(out), "");
    LasFile f;
    ASSERT_EQ(readLas(out, f), "");
    EXPECT_EQ(f.records, in.records);
}

INSTANTIATE_TEST_SUITE_P(Samples, SharedSample,
                         testing::Values("v1.0_0.las", "v1.0_1.las", "v1.1_0.las", "v1.1_1.las", "v1.2_0.las",
                                         "v1.2_1.las", "v1.2_2.las", "v1.2_3.las", "simple.las", "100-points.las"),
                         [](const testing::TestParamInfo<const char *> &i) {
                             std::string n = i.param;
                             for (char &c : n)
                                 if (c == '.' || c == '-')
                                     c = '_';
                             return n;
                         });

}  // namespace
