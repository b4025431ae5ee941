// Inputs the plain record-by-record run would mishandle: each is refused
// with a clear message and status 255, or handled soundly.
#include "console_text.h"
#include "grid_builder.h"
#include "las_builder.h"
#include "reference.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using namespace test_support;

namespace {

const std::string kGrid = asciiGrid(2, 3, "100", "200", "10", "-9999", {"1", "2", "3", "4", "5", "6"});

LasSpec baseSpec()
{
    LasSpec s;
    s.offset[0] = 100.0;
    s.offset[1] = 200.0;
    return s;
}

// Console text up to and including the limits for kGrid: three ASCII rows
// report once, at 100 %.
std::string preamble()
{
    return bannerText() + rasterDescription(RasterKind::Ascii, "dem.asc", 3, 2, 100, 200, 10, -9999) +
           "\r... Reading raster ..." + std::string(56, ' ') + "\r... Reading raster ... 100% done" +
           std::string(46, ' ') + "\r" + limitsText(0, 3);
}

struct Refusal {
    const char *label;
    std::string grid;
    LasSpec layout;
    std::vector<Point> points;
    std::string expectedOut;  // whole stdout
};

TEST(RunSafety, RefusesBeforeCreatingTheOutput)
{
    LasSpec lowOffset = baseSpec();
    lowOffset.offsetToData = 100;
    LasSpec shortRecords = baseSpec();
    shortRecords.versionMinor = 0;
    shortRecords.format = 2;
    shortRecords.recordLength = 12;
    const std::string banner = bannerText();
    const Refusal cases[] = {
        {"offset inside the header",
         kGrid,
         lowOffset,
         {{1, 1, 300}},
         preamble() + "\nOffsetToData of in.las (100) lies inside the 227-byte header\n"},
        {"record length below 20",
         kGrid,
         shortRecords,
         {{1, 1, 300}},
         preamble() + "\nPoint record length of in.las (12 bytes) is shorter than a LAS point record\n"},
        {"no rows",
         gridHeader(2, 0, "1", "2", "1", "-9999"),
         baseSpec(),
         {},
         banner + "\nCannot read raster header dem.asc: keyword 'nrows' must be a positive 32-bit count\n"},
        {"negative columns",
         gridHeader(-2, 3, "1", "2", "1", "0"),
         baseSpec(),
         {},
         banner + "\nCannot read raster header dem.asc: keyword 'ncols' must be a positive 32-bit count\n"},
        {"unreadable count",
         "ncols two\nnrows 3\nxllcorner 1\nyllcorner 2\ncellsize 1\nNODATA_value 0\n",
         baseSpec(),
         {},
         banner + "\nCannot read raster header dem.asc: cannot read the value 'two' of keyword 'ncols'\n"},
        {"missing cell size",
         "ncols 2\nnrows 3\nxllcorner 1\nyllcorner 2\n1 2 3 4 5 6\n",
         baseSpec(),
         {},
         banner + "\nCannot read raster header dem.asc: keyword 'cellsize' is missing\n"},
        {"too few values",
         gridHeader(2, 3, "100", "200", "10", "-9999") + "1 2\n3 4\n5",
         baseSpec(),
         {},
         banner + rasterDescription(RasterKind::Ascii, "dem.asc", 3, 2, 100, 200, 10, -9999) +
             "\r... Reading raster ..." + std::string(56, ' ') +
             "\nRaster file dem.asc ends before its 3 x 2 values\n"},
        {"a value that is no number",
         asciiGrid(2, 3, "100", "200", "10", "-9999", {"1", "2", "3", "x4", "5", "6"}),
         baseSpec(),
         {},
         banner + rasterDescription(RasterKind::Ascii, "dem.asc", 3, 2, 100, 200, 10, -9999) +
             "\r... Reading raster ..." + std::string(56, ' ') +
             "\nRaster file dem.asc: value 2 of row 2 is not a number: 'x4'\n"},
        {"far more rows than the file holds",
         gridHeader(100000, 100000, "1", "2", "1", "0") + "1 2\n",
         baseSpec(),
         {},
         banner + rasterDescription(RasterKind::Ascii, "dem.asc", 100000, 100000, 1, 2, 1, 0) +
             "\nRaster file dem.asc holds fewer than 100000 x 100000 values\n"},
    };
    for (const Refusal &c : cases) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        writeFile(dir / "dem.asc", c.grid);
        const std::string input = buildLas(c.layout, c.points);
        writeFile(dir / "in.las", input);
        const RunResult r = runMorvane({"dem.asc", "in.las", "out.las", "0", "3"}, dir.path());
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.out, c.expectedOut);
        EXPECT_FALSE(fileExists(dir / "out.las"));
        EXPECT_EQ(readFile(dir / "in.las"), input);
    }
}

TEST(RunSafety, FractionalNodataIsReadWhole)
{
    // A NODATA value written with an exponent, as raster tools write the
    // float minimum: the whole token is the marker, the first cell is 1.
    TempDir dir;
    writeFile(dir / "dem.asc", asciiGrid(2, 3, "100", "200", "10", "-3.4028234663852886e+38",
                                         {"1", "-3.4028234663852886e+38", "3", "4", "5", "6"}));
    LasSpec layout = baseSpec();
    const std::vector<Point> points = {{1, 2001, 200, 1}, {1001, 2001, 200, 1}, {1, 1, 600, 1}};
    writeFile(dir / "in.las", buildLas(layout, points));
    const RunResult r = runMorvane({"dem.asc", "in.las", "out.las", "0", "3"}, dir.path());
    EXPECT_EQ(r.status, 0);
    const float nodata = -3.4028234663852886e+38f;
    EXPECT_NE(r.out.find(rasterDescription(RasterKind::Ascii, "dem.asc", 3, 2, 100, 200, 10, nodata)),
              std::string::npos);
    EXPECT_NE(r.out.find(tallyText(2, 0, 1, 0, 3)), std::string::npos) << r.out;
}

TEST(RunSafety, CellCentreKeywordsShiftByHalfACell)
{
    TempDir dir;
    writeFile(dir / "dem.asc",
              "NCOLS 2\nNROWS 3\nXLLCENTER 105\nyllCenter 205\nCELLSIZE 10\nNODATA_VALUE -9999\n1 2\n3 4\n5 6\n");
    writeFile(dir / "in.las", buildLas(baseSpec(), {{1, 1, 600, 1}, {-1, 1, 600, 1}}));
    const RunResult r = runMorvane({"dem.asc", "in.las", "out.las", "0", "3"}, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find(rasterDescription(RasterKind::Ascii, "dem.asc", 3, 2, 100, 200, 10, -9999)),
              std::string::npos);
    EXPECT_NE(r.out.find(tallyText(1, 0, 0, 1, 2)), std::string::npos) << r.out;
}

TEST(RunSafety, QuotientsBeyondTheGridNeverWrapIntoIt)
{
    // Row 2^32 would wrap to row 0 in 32 bits; an infinite scale gives an
    // infinite or undefined quotient. All count as outside.
    TempDir dir;
    writeFile(dir / "dem.asc", kGrid);
    LasSpec wrap = baseSpec();
    wrap.scale[1] = 42949672960.0;  // 2^32 cells of 10 per unit
    LasSpec infinite = baseSpec();
    infinite.scale[0] = INFINITY;
    for (const LasSpec &layout : {wrap, infinite}) {
        writeFile(dir / "in.las", buildLas(layout, {{1, 1, 600, 1}, {0, 1, 600, 1}}));
        const RunResult r = runMorvane({"dem.asc", "in.las", "out.las", "0", "3"}, dir.path());
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.out.find(tallyText(0, 0, 0, 2, 2)), std::string::npos) << r.out;
        EXPECT_FALSE(fileExists(dir / "out.las"));
    }
}

TEST(RunSafety, TypeZeroRecordsUseTheirDeclaredLength)
{
    // A 1.1 file declaring format 3 with 40-byte records passes through whole.
    TempDir dir;
    writeFile(dir / "dem.asc", kGrid);
    LasSpec layout = baseSpec();
    layout.versionMinor = 1;
    layout.format = 3;
    layout.recordLength = 40;
    const std::vector<Point> points = {{1, 1, 600, 1}, {2, 2, 9000, 1}, {3, 3, 700, 2}};
    const std::string input = buildLas(layout, points);
    writeFile(dir / "in.las", input);
    const RunResult r = runMorvane({"dem.asc", "in.las", "out.las", "0", "3"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(byteDifference(readFile(dir / "out.las"), expectedOutput(input, {0, 2})), "");
}

TEST(RunSafety, CountsAbove31BitsPrintUnsigned)
{
    TempDir dir;
    writeFile(dir / "dem.asc", kGrid);
    LasSpec layout = baseSpec();
    layout.declaredCount = 2147483648LL;
    writeFile(dir / "in.las", buildLas(layout, {{1, 1, 600, 1}}));
    const RunResult r = runMorvane({"dem.asc", "in.las", "out.las", "0", "3"}, dir.path());
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, preamble() + filesText("in.las", "out.las", 2147483648u) +
                         "... processing ... ( 0% done )\r"
                         "\nFile in.las ends after 1 of its 2147483648 point records\n");
    EXPECT_NE(r.out.find("                  2147483648 points\n"), std::string::npos);
    EXPECT_FALSE(fileExists(dir / "out.las"));
}

}  // namespace
