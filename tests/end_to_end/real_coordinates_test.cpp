// Runs at the magnitudes surveys have: UTM northings and southings, State
// Plane feet and degrees, with fine cells and corners that single precision
// cannot hold, through every raster form. Every point's cell is found
// independently, floor((x - x0) / cell) in double, and its elevation put on
// that cell's value: a point that lands in any other cell is not selected.
#include "LiDAR.h"
#include "console_text.h"
#include "grid_builder.h"
#include "las_builder.h"
#include "reference.h"
#include "stdout_capture.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

using namespace test_support;

namespace {

struct Geometry {
    const char *label;
    double x0, y0, cell;
    double xyScale, xOffset, yOffset;
    double zScale, zOffset, base;  // cell values base, base + 0.25, ...
    const char *cornerLines;       // as the raster description prints the corner
};

const Geometry kGeometries[] = {
    {"UTM north, 0.25 m cells", 500000.13, 4500000.25, 0.25, 0.001, 500000, 4500000, 1e-4, 0, 1500,
     "SW corner X           500000.13\nSW corner Y          4500000.25\n"},
    {"UTM south, 0.5 m cells", 712345.5, 8512345.5, 0.5, 0.01, 700000, 8500000, 1e-4, 0, -1500,
     "SW corner X           712345.50\nSW corner Y          8512345.50\n"},
    {"State Plane feet, 3 ft cells", 2100000.37, 710000.13, 3.0, 0.01, 2100000, 700000, 0.01, 0, 100,
     "SW corner X          2100000.37\nSW corner Y           710000.13\n"},
    {"degrees, 1/3 arc-second cells", -122.3456789, 47.6543219, 1.0 / 10800, 1e-7, -122, 47, 1e-7, 0, 40,
     "SW corner X             -122.35\nSW corner Y               47.65\n"},
};

// The corner as the loader derives it from what the file says.
double cornerAsWritten(double corner, double cell, GridForm form, bool isY, int rows)
{
    if (form != GridForm::FloatEhdr)
        return std::strtod(exactDecimal(corner).c_str(), nullptr);
    const double centre = std::strtod(
        exactDecimal(isY ? corner + rows * cell - cell / 2 : corner + cell / 2).c_str(), nullptr);
    return isY ? centre + cell / 2 - rows * cell : centre - cell / 2;
}

int32_t raw(double v, double scale, double offset)
{
    return static_cast<int32_t>(std::llround((v - offset) / scale));
}

TEST(RealCoordinates, EveryPointLandsInItsOwnCellInEveryRasterForm)
{
    constexpr int kSide = 20;
    for (const Geometry &g : kGeometries) {
        for (const GridForm form : {GridForm::Ascii, GridForm::FloatClassic, GridForm::FloatEhdr}) {
            SCOPED_TRACE(std::string(g.label) + ", " + gridFormName(form));
            TestGrid grid;
            grid.rows = grid.cols = kSide;
            grid.minx = g.x0;
            grid.miny = g.y0;
            grid.cell = g.cell;
            for (int i = 0; i < kSide * kSide; ++i)
                grid.south.push_back(static_cast<float>(g.base + 0.25 * i));
            const double x0 = cornerAsWritten(g.x0, g.cell, form, false, kSide);
            const double y0 = cornerAsWritten(g.y0, g.cell, form, true, kSide);

            LasSpec layout;
            layout.format = 0;
            layout.scale[0] = layout.scale[1] = g.xyScale;
            layout.scale[2] = g.zScale;
            layout.offset[0] = g.xOffset;
            layout.offset[1] = g.yOffset;
            layout.offset[2] = g.zOffset;
            // Each cell's centre, and a point two raw units inside its
            // west and south edges.
            std::vector<Point> points;
            for (int r = 0; r < kSide; ++r) {
                for (int c = 0; c < kSide; ++c) {
                    const double west = g.x0 + c * g.cell, south = g.y0 + r * g.cell;
                    for (const auto &[x, y] :
                         {std::pair{raw(west + g.cell / 2, g.xyScale, g.xOffset),
                                    raw(south + g.cell / 2, g.xyScale, g.yOffset)},
                          std::pair{raw(west, g.xyScale, g.xOffset) + 2, raw(south, g.xyScale, g.yOffset) + 2}}) {
                        const double col = std::floor((x * g.xyScale + g.xOffset - x0) / g.cell);
                        const double row = std::floor((y * g.xyScale + g.yOffset - y0) / g.cell);
                        ASSERT_TRUE(row >= 0 && row < kSide && col >= 0 && col < kSide);
                        const float v = grid.at(static_cast<int>(row), static_cast<int>(col));
                        points.push_back({x, y, raw(v, g.zScale, g.zOffset), 1});
                    }
                }
            }
            TempDir dir;
            const std::string raster = grid.write(dir, form);
            const std::string input = buildLas(layout, points);
            writeFile(dir / "in.las", input);

            const RunResult r = runMorvane({raster, "in.las", "out.las", "-0.1", "0.1"}, dir.path());
            ASSERT_EQ(r.status, 0) << r.out;
            EXPECT_NE(r.out.find(g.cornerLines), std::string::npos) << r.out;
            PrintedTally t;
            readTally(r.out, t);
            EXPECT_EQ(t, (PrintedTally{static_cast<uint32_t>(points.size()), 0, 0, 0}));
            // Every record kept, in order; Z beyond ten million raw units
            // still gives the header its true bounds.
            EXPECT_EQ(byteDifference(readFile(dir / "out.las"), expectedOutput(input, allRecords(input))), "");
            // The header from the record loop's statistics is the library's recount.
            const std::string out = readFile(dir / "out.las");
            writeFile(dir / "recount.las", out);
            (void)capture_stdout([&] { update_header((dir / "recount.las").c_str()); });
            EXPECT_TRUE(readFile(dir / "recount.las") == out);
        }
    }
}

// A declared NaN NODATA value marks NaN cells; without one, or with a
// number, a NaN cell is an ordinary cell that no elevation matches.
TEST(RealCoordinates, NanNodataInEveryRasterForm)
{
    const struct {
        const char *nodata;
        PrintedTally expected;
    } cases[] = {
        {"nan", {1, 0, 1, 0}},
        {"NaN", {1, 0, 1, 0}},
        {"", {1, 1, 0, 0}},
        {"-9999", {1, 1, 0, 0}},
    };
    for (const auto &c : cases) {
        for (const GridForm form : {GridForm::Ascii, GridForm::FloatClassic, GridForm::FloatEhdr}) {
            SCOPED_TRACE(std::string("NODATA '") + c.nodata + "', " + gridFormName(form));
            const TestGrid grid{.rows = 1,
                                .cols = 2,
                                .minx = 500000,
                                .miny = 4500000,
                                .cell = 10,
                                .nodata = c.nodata,
                                .south = {std::numeric_limits<float>::quiet_NaN(), 5.0f}};
            LasSpec layout;
            layout.offset[0] = 500000;
            layout.offset[1] = 4500000;
            TempDir dir;
            const std::string raster = grid.write(dir, form);
            const std::vector<Point> points = {{500, 500, 500, 1}, {1500, 500, 500, 1}};
            writeFile(dir / "in.las", buildLas(layout, points));
            const RunResult r = runMorvane({raster, "in.las", "out.las", "-1", "1"}, dir.path());
            ASSERT_EQ(r.status, 0) << r.out;
            PrintedTally t;
            readTally(r.out, t);
            EXPECT_EQ(t, c.expected);
        }
    }
}

}  // namespace
