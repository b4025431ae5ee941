// The cells under a box of coordinates, and where a window's cells lie.
#include "raster/cell_window.h"
#include "raster/cells_needed.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace morvane;

namespace {

// A 2 km UTM tile of half-metre cells.
const GridGeometry kTile{.rows = 4000, .cols = 4000, .minx = 500000.0, .miny = 4100000.0, .cellsize = 0.5};

TEST(CellWindow, CellsUnderABoxAndOneBeyond)
{
    const struct {
        const char *label;
        double minX, maxX, minY, maxY;
        CellWindow expected;
    } cases[] = {
        {"inside", 500100.2, 500200.0, 4100300.0, 4100350.7, {599, 703, 199, 402}},
        {"beyond on every side", -1e9, 1e9, -1e9, 1e9, {0, 4000, 0, 4000}},
        {"a point", 500000.25, 500000.25, 4101999.75, 4101999.75, {3998, 4000, 0, 2}},
        {"just west: the first column", 499999.0, 499999.9, 4100000.0, 4100001.0, {0, 4, 0, 1}},
        {"west", 499990.0, 499998.0, 4100000.0, 4100001.0, {}},
        {"on the east edge: the last column", 502000.0, 502000.4, 4100000.0, 4100001.0, {0, 4, 3999, 4000}},
        {"east", 502000.5, 502010.0, 4100000.0, 4100001.0, {}},
        {"north", 500000.0, 500001.0, 4102000.5, 4102100.0, {}},
        {"turned around", 500200.0, 500100.0, 4100300.0, 4100350.0, {}},
        {"NaN", NAN, 500100.0, 4100300.0, 4100350.0, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(windowForBounds(kTile, c.minX, c.maxX, c.minY, c.maxY), c.expected);
    }
}

TEST(CellWindow, CellsLieNorthernRowFirstAsTheFilesHoldThem)
{
    const CellWindow w{10, 13, 5, 9};  // rows 10-12, columns 5-8
    EXPECT_EQ(w.cellCount(), 12u);
    EXPECT_EQ(w.indexOf(12, 5), 0u);
    EXPECT_EQ(w.indexOf(12, 8), 3u);
    EXPECT_EQ(w.indexOf(11, 5), 4u);
    EXPECT_EQ(w.indexOf(10, 8), 11u);
    EXPECT_TRUE(w.containsRow(10));
    EXPECT_FALSE(w.containsRow(13));
    EXPECT_TRUE(CellWindow::whole(kTile).contains(w));
    EXPECT_FALSE(w.contains(CellWindow{10, 14, 5, 9}));
    // A window as wide as the largest grid: its count does not wrap.
    EXPECT_EQ((CellWindow{0, INT32_MAX, 0, INT32_MAX}).cellCount(), uint64_t{INT32_MAX} * INT32_MAX);
}

}  // namespace
