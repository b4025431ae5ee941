// Every LAS file Morvane writes must read back cleanly with the independent
// reader of tests/support/las_reader.h and be, byte for byte, the reference
// output: for every version and point format, with variable-length
// records, and for the third-party samples.
#include "console_text.h"
#include "grid_builder.h"
#include "las_builder.h"
#include "las_reader.h"
#include "reference.h"
#include "test_files.h"
#include "text_format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace {

using namespace test_support;

// 2 x 2 cells of 10 m from (1000, 2000); north row 50 60, south row 30 40.
TestGrid grid2x2()
{
    TestGrid g{.rows = 2, .cols = 2, .minx = 1000, .miny = 2000, .cell = 10, .south = {30, 40, 50, 60}};
    return g;
}

struct Placed {
    double x, y, z;
    uint8_t returnByte;
    bool kept;  // with limits 0 and 2
};

const std::vector<Placed> kPoints = {
    {1005, 2005, 31, 0x09, true},                                        // SW cell, return 1 of 1
    {1005, 2005, 35, 0x12, false},                                       // above the window
    {1005, 2015, 50, 0x0A, true},                                        // NW, at the low limit, return 2
    {1005.5, 2015, 52, 0x13, true},                                      // at the high limit, return 3
    {1005, 2015.5, 52.01, 0x0B, false},   {1015, 2015, 61, 0x24, true},  // NE, return 4
    {1015, 2005, 41, 0x2D, true},                                        // SE, return 5
    {1015, 2005, 39.99, 0x29, false},                                    // below the window
    {995, 2005, 31, 0x09, false},                                        // west of the grid
    {1012, 2012, 60.5, 0x00, true},                                      // return number 0: in no per-return count
    {1018, 2001, 40, 0x36, true},                                        // return 6
    {1001, 2019, 51.5, 0x3F, true},                                      // return 7
    {1003.25, 2008.5, 30.25, 0x09, true},
};

struct Layout {
    uint8_t minor, format;
};

std::string nameOf(const Layout &l)
{
    return "v1" + std::to_string(l.minor) + "_format" + std::to_string(l.format);
}

void PrintTo(const Layout &l, std::ostream *os)
{
    *os << nameOf(l);
}

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
    std::vector<size_t> kept;
    for (size_t i = 0; i < kPoints.size(); ++i)
        if (kPoints[i].kept)
            kept.push_back(i);

    TempDir dir;
    grid2x2().write(dir, GridForm::Ascii, "grid");
    writeFile(dir / "in.las", input);
    const RunResult r = runMorvane({"grid.asc", "in.las", "out.las", "0", "2"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.out;
    // The console does not depend on the layout.
    EXPECT_EQ(maskTiming(r.out), goldenTranscript("every_version_and_format", maskTiming(r.out)));
    const std::string out = readFile(dir / "out.las");

    LasRules rules;
    rules.laterFormatsInOldVersions = l.minor < 2 && l.format > 1;
    EXPECT_EQ(validateLas(out, rules), "");
    EXPECT_EQ(byteDifference(out, expectedOutput(input, kept)), "");
}

INSTANTIATE_TEST_SUITE_P(AllVersionsAndFormats, OutputOf,
                         testing::Values(Layout{0, 0}, Layout{0, 1}, Layout{1, 0}, Layout{1, 1}, Layout{2, 0},
                                         Layout{2, 1}, Layout{2, 2}, Layout{2, 3},
                                         // 1.0 and 1.1 files that declare the 1.2 formats are processed too.
                                         Layout{0, 2}, Layout{0, 3}, Layout{1, 2}, Layout{1, 3}),
                         [](const testing::TestParamInfo<Layout> &i) { return nameOf(i.param); });

TEST(OutputValidity, FromAFloatGridToo)
{
    TempDir dir;
    grid2x2().write(dir, GridForm::FloatClassic, "grid");
    LasSpec s;
    s.format = 3;
    s.offset[0] = 1000;
    s.offset[1] = 2000;
    std::vector<Point> points;
    for (int i = 0; i < 400; ++i)
        points.push_back(Point{(i * 37) % 2000, (i * 53) % 2000, 3000 + (i * 7) % 5000, static_cast<uint8_t>(i % 8)});
    const std::string input = buildLas(s, points);
    writeFile(dir / "in.las", input);
    const RunResult r = runMorvane({"grid.flt", "in.las", "out.las", "-20", "20"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string out = readFile(dir / "out.las");
    EXPECT_EQ(validateLas(out), "");
    EXPECT_EQ(byteDifference(out, expectedOutput(input, expectedCut(grid2x2(), s, points, -20, 20).selected)), "");
}

// Files written by other software, where the shared data is: each must
// read as valid itself (one known exception), and what Morvane cuts out of it with a flat grid
// below every point and a window above all of them must be the whole file
// with its variable-length records verbatim and true header statistics.
TEST(SharedData, EveryFileReadsBackWholeAndValid)
{
    const std::filesystem::path data(SHARED_DATA_DIR);
    std::error_code ec;
    if (!std::filesystem::is_directory(data, ec))
        GTEST_SKIP() << "no shared LAS data at " << data
                     << "; configure with -DMORVANE_SHARED_DATA=<folder> to point elsewhere";
    int seen = 0;
    for (const auto &entry : std::filesystem::directory_iterator(data)) {
        if (entry.path().extension() != ".las")
            continue;
        SCOPED_TRACE(entry.path().filename().string());
        ++seen;
        const std::string input = readFile(entry.path().string());
        // That file's header counts every point as a first return; its
        // records say otherwise. The output's header is true all the same.
        if (entry.path().filename() != "epsg_4326.las") {
            EXPECT_EQ(validateLas(input), "");
        }
        LasFile in;
        ASSERT_EQ(readLas(input, in), "");

        TestGrid grid;
        grid.rows = grid.cols = 4;
        grid.minx = std::floor(in.min[0]) - 10;
        grid.miny = std::floor(in.min[1]) - 10;
        grid.cell = std::ceil(std::max(in.max[0] - grid.minx, in.max[1] - grid.miny) / 4.0) + 10;
        const double base = std::floor(in.min[2]) - 1;
        grid.south.assign(16, static_cast<float>(base));
        TempDir dir;
        const std::string raster = grid.write(dir, GridForm::Ascii);
        std::filesystem::create_symlink(entry.path(), dir / "in.las");
        const RunResult r = runMorvane({raster, "in.las", "out.las", "0", format("%.3f", in.max[2] - base + 2)},
                                       dir.path());
        ASSERT_EQ(r.status, 0) << r.out;
        const std::string out = readFile(dir / "out.las");
        EXPECT_EQ(validateLas(out), "");
        EXPECT_EQ(byteDifference(out, expectedOutput(input, allRecords(input))), "");
    }
    EXPECT_GT(seen, 0);
}

}  // namespace
