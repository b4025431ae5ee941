// Only the cells under the input's header bounds are held, and a point the
// bounds do not cover still gets its own cell: every run gives the output,
// console and status of a run whose header bounds cover the whole grid,
// whatever the bounds say and wherever the tile lies.
#include "console_text.h"
#include "grid_builder.h"
#include "las_builder.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

using namespace test_support;

namespace {

enum class Bounds { True, Quarter, Zero, NaN, Inverted, Whole };

const char *boundsName(Bounds b)
{
    static const char *kNames[] = {"true", "a quarter of the points", "zero", "NaN", "inverted", "whole grid"};
    return kNames[static_cast<int>(b)];
}

// Writes MaxX, MinX, MaxY, MinY into a LAS image's header.
void setBounds(std::string &las, double maxX, double minX, double maxY, double minY)
{
    putLE<double>(las, 179, maxX);
    putLE<double>(las, 187, minX);
    putLE<double>(las, 195, maxY);
    putLE<double>(las, 203, minY);
}

struct Tile {
    TestGrid grid;
    LasSpec layout;
    std::vector<Point> points;
};

// A grid at UTM magnitudes and a tile of points over a random part of it,
// reaching past its edges or lying wholly outside at times.
Tile randomTile(std::mt19937 &rng)
{
    auto uniform = [&](double a, double b) { return std::uniform_real_distribution<double>(a, b)(rng); };
    Tile t;
    TestGrid &g = t.grid;
    g.rows = 1 + static_cast<int>(rng() % 60);
    g.cols = 1 + static_cast<int>(rng() % 60);
    g.cell = rng() % 2 ? 0.5 : uniform(0.3, 3.0);
    g.minx = 500000 + uniform(0, 1000);
    g.miny = 4500000 + uniform(0, 1000);
    for (int i = 0; i < g.rows * g.cols; ++i)
        g.south.push_back(rng() % 10 == 0 ? -9999.0f : static_cast<float>(uniform(100, 110)));
    t.layout.format = static_cast<uint8_t>(rng() % 4);
    t.layout.offset[0] = 500000;
    t.layout.offset[1] = 4500000;
    // The tile: a box in cell units, anywhere from two grids west/south to
    // two grids east/north.
    const double x0 = uniform(-0.5, 1.2) * g.cols, y0 = uniform(-0.5, 1.2) * g.rows;
    const double w = uniform(0.05, 0.8) * g.cols + 1, h = uniform(0.05, 0.8) * g.rows + 1;
    const int n = 1 + static_cast<int>(rng() % 300);
    for (int i = 0; i < n; ++i) {
        const double x = g.minx + (x0 + uniform(0, w)) * g.cell, y = g.miny + (y0 + uniform(0, h)) * g.cell;
        t.points.push_back({static_cast<int32_t>(std::llround((x - 500000) / 0.01)),
                            static_cast<int32_t>(std::llround((y - 4500000) / 0.01)),
                            static_cast<int32_t>(std::llround(uniform(99, 112) / 0.01)), 1});
    }
    return t;
}

std::string lasWithBounds(const Tile &t, Bounds b)
{
    std::string las = buildLas(t.layout, t.points);
    double minX = INFINITY, maxX = -INFINITY, minY = INFINITY, maxY = -INFINITY;
    const size_t counted = b == Bounds::Quarter ? (t.points.size() + 3) / 4 : t.points.size();
    for (size_t i = 0; i < counted; ++i) {
        const double x = t.points[i].x * 0.01 + 500000, y = t.points[i].y * 0.01 + 4500000;
        minX = std::min(minX, x), maxX = std::max(maxX, x), minY = std::min(minY, y), maxY = std::max(maxY, y);
    }
    const double nan = std::numeric_limits<double>::quiet_NaN();
    switch (b) {
    case Bounds::True:
    case Bounds::Quarter: setBounds(las, maxX, minX, maxY, minY); break;
    case Bounds::Zero: setBounds(las, 0, 0, 0, 0); break;
    case Bounds::NaN: setBounds(las, nan, nan, nan, nan); break;
    case Bounds::Inverted: setBounds(las, minX, maxX, minY, maxY); break;
    case Bounds::Whole: setBounds(las, 1e300, -1e300, 1e300, -1e300); break;
    }
    return las;
}

TEST(WindowedRaster, EveryBoundsGiveTheWholeGridsResult)
{
    std::mt19937 rng(20261209);
    for (int k = 0; k < 40; ++k) {
        const Tile t = randomTile(rng);
        for (const GridForm form : {GridForm::Ascii, GridForm::FloatEhdr}) {
            TempDir dir;
            const std::string raster = t.grid.write(dir, form);
            writeFile(dir / "whole.las", lasWithBounds(t, Bounds::Whole));
            const RunResult reference = runMorvane({raster, "whole.las", "out.las", "-1", "4"}, dir.path());
            ASSERT_TRUE(reference.status == 0 || reference.status == 1) << reference.out;
            const std::string expected = reference.status == 0 ? readFile(dir / "out.las") : "";
            for (const Bounds b : {Bounds::True, Bounds::Quarter, Bounds::Zero, Bounds::NaN, Bounds::Inverted}) {
                SCOPED_TRACE("tile " + std::to_string(k) + ", " + gridFormName(form) + ", header bounds " +
                             boundsName(b));
                writeFile(dir / "whole.las", lasWithBounds(t, b));
                const RunResult r = runMorvane({raster, "whole.las", "out.las", "-1", "4"}, dir.path());
                EXPECT_EQ(r.status, reference.status);
                EXPECT_EQ(maskTiming(r.out), maskTiming(reference.out));
                EXPECT_TRUE((r.status == 0 ? readFile(dir / "out.las") : "") == expected) << "output differs";
            }
        }
    }
}

// Tiles at the grid's corners and edges, partly or wholly beyond them, and
// empty: the run that holds only the cells under the tile agrees with the
// reference rule, cell by cell.
TEST(WindowedRaster, TilesAtCornersAndEdges)
{
    TestGrid g{.rows = 6, .cols = 8, .minx = 500000.25, .miny = 4500000.75, .cell = 0.5, .south = {}};
    for (int i = 0; i < g.rows * g.cols; ++i)
        g.south.push_back(static_cast<float>(100 + i));
    // Boxes in cell units (west, south, east, north).
    const struct {
        const char *label;
        double box[4];
        PrintedTally expected;
    } cases[] = {
        {"south-west corner", {0, 0, 1, 1}, {4, 0, 0, 0}},     {"north-east corner", {7, 5, 8, 6}, {4, 0, 0, 0}},
        {"across the west edge", {-1, 2, 1, 3}, {2, 0, 0, 2}}, {"across the north edge", {3, 5, 4, 7}, {2, 0, 0, 2}},
        {"wholly east", {9, 2, 10, 3}, {0, 0, 0, 4}},          {"wholly south-west", {-3, -3, -2, -2}, {0, 0, 0, 4}},
    };
    for (const GridForm form : {GridForm::Ascii, GridForm::FloatClassic}) {
        for (const auto &c : cases) {
            SCOPED_TRACE(std::string(c.label) + ", " + gridFormName(form));
            // A point a quarter cell inside each corner of the box, on its cell's value.
            std::vector<Point> points;
            for (const double cx : {c.box[0] + 0.25, c.box[2] - 0.25}) {
                for (const double cy : {c.box[1] + 0.25, c.box[3] - 0.25}) {
                    const int col = static_cast<int>(std::floor(cx)), row = static_cast<int>(std::floor(cy));
                    const bool inside = row >= 0 && row < g.rows && col >= 0 && col < g.cols;
                    points.push_back({static_cast<int32_t>(std::llround((g.minx + cx * g.cell - 500000) / 0.01)),
                                      static_cast<int32_t>(std::llround((g.miny + cy * g.cell - 4500000) / 0.01)),
                                      inside ? static_cast<int32_t>(g.at(row, col) * 100) : 0, 1});
                }
            }
            LasSpec layout;
            layout.offset[0] = 500000;
            layout.offset[1] = 4500000;
            const Tile t{g, layout, points};
            TempDir dir;
            const std::string raster = g.write(dir, form);
            writeFile(dir / "in.las", lasWithBounds(t, Bounds::True));
            const RunResult r = runMorvane({raster, "in.las", "out.las", "-0.1", "0.1"}, dir.path());
            PrintedTally tally;
            readTally(r.out, tally);
            EXPECT_EQ(tally, c.expected) << r.out;
            EXPECT_EQ(r.status, c.expected.meet != 0 ? 0 : 1);
        }
    }
}

// Header bounds that are stale, zero or inflated do not set the memory: a
// 100-point tile over a sparse DEM far larger than it holds the cells under
// its points, whatever its header says, and gives the output of true bounds.
TEST(WindowedRaster, StaleBoundsDoNotSetTheMemory)
{
    // A 20,000-cell-a-side DEM (1.6 GB) and one of 1,000,000 a side (4 TB,
    // more than any memory), both sparse, 1 m cells at UTM magnitudes.
    const double minx = 500000, miny = 4500000;
    const struct {
        const char *label;
        int cells;            // a side
        double bounds[4];     // MaxX, MinX, MaxY, MinY in metres from the corner
        long capKiB;          // peak memory allowed
    } cases[] = {
        {"true", 20000, {110, 100, 110, 100}, 100 << 10},
        {"elsewhere in the DEM", 20000, {19000, 9000, 19000, 9000}, 100 << 10},
        {"zero", 20000, {-minx, -minx, -miny, -miny}, 100 << 10},
        {"the whole DEM", 20000, {1e9, -1e9, 1e9, -1e9}, 100 << 10},
        {"the whole of a DEM larger than memory", 1000000, {1e9, -1e9, 1e9, -1e9}, 100 << 10},
    };
    std::vector<Point> points;
    for (int i = 0; i < 100; ++i)
        points.push_back({10000 + (i % 10) * 100, 10000 + (i / 10) * 100, 0, 1});
    LasSpec layout;
    layout.offset[0] = minx;
    layout.offset[1] = miny;
    std::string reference;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        const auto side = static_cast<uint64_t>(c.cells);
        writeFile(dir / "dem.hdr", gridHeader(c.cells, c.cells, "500000", "4500000", "1", "-9999"));
        writeFile(dir / "dem.flt", "");
        ASSERT_EQ(::truncate((dir / "dem.flt").c_str(), static_cast<off_t>(side * side * 4)), 0);
        std::string las = buildLas(layout, points);
        setBounds(las, minx + c.bounds[0], minx + c.bounds[1], miny + c.bounds[2], miny + c.bounds[3]);
        writeFile(dir / "in.las", las);
        const RunResult r = runMorvane({"dem.flt", "in.las", "out.las", "-1", "1"}, dir.path());
        ASSERT_EQ(r.status, 0) << r.out;
        EXPECT_LT(r.peakKiB, c.capKiB);
        if (reference.empty())
            reference = readFile(dir / "out.las");
        EXPECT_TRUE(readFile(dir / "out.las") == reference) << "output differs from the run with true bounds";
    }
}

}  // namespace
