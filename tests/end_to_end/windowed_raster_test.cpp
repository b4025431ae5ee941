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
#include <fcntl.h>
#include <functional>
#include <limits>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
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
        int cells;         // a side
        double bounds[4];  // MaxX, MinX, MaxY, MinY in metres from the corner
        long capKiB;       // peak memory allowed
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

// This process's peak resident memory (VmHWM), which a child it starts
// reports as its own peak until it passes it.
long ownPeakKiB()
{
    std::istringstream status(readFile("/proc/self/status"));
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("VmHWM:"))
            return std::stol(line.substr(6));
    return 0;
}

// Point layouts over a sparse DEM far larger than the cells under them (1 m
// cells at UTM magnitudes): a tile, a strip along the diagonal, a tile and
// one stray point, clusters far apart, points alternating between corners,
// stale and lying headers, files that end early. Each run holds only the
// cells under its points, within a peak-memory bound, and gives the output,
// tally and status of the same points over a coarse grid of the same extent
// (100 m cells), small enough to be held whole as one window, whose cells
// hold the values the fine cells under the points hold.
TEST(WindowedRaster, PointLayoutsHoldTheCellsUnderThem)
{
    constexpr double kMinX = 500000, kMinY = 4500000;
    constexpr int kCoarse = 100;  // fine cells a side of a coarse one
    // A coarse cell's value; some are NODATA.
    const auto coarseValue = [](int64_t row, int64_t col) {
        return (row * 7 + col * 3) % 13 == 0 ? -9999.0f : static_cast<float>(100 + (row * 7 + col * 3) % 50) + 0.25f;
    };
    // A layout: points at the centres of fine cells (column, row).
    using Layout = std::function<std::vector<std::pair<int64_t, int64_t>>(int64_t side)>;
    const auto tile = [](int64_t at) {
        std::vector<std::pair<int64_t, int64_t>> cells;
        for (int64_t i = 0; i < 100; ++i)
            cells.push_back({at + i % 10 * 97, at + i / 10 * 89});
        return cells;
    };
    const Layout tileLayout = [&](int64_t) { return tile(3000); };
    const Layout strip = [](int64_t side) {
        std::vector<std::pair<int64_t, int64_t>> cells;
        for (int64_t i = 0; i < 300; ++i)
            cells.push_back({i * (side - 200) / 300 + i * 37 % 200, i * (side - 200) / 300 + i * 53 % 200});
        return cells;
    };
    const Layout tileAndStray = [&](int64_t side) {
        auto cells = tile(1000);
        cells.insert(cells.begin() + 50, {side - 7, side - 3});
        return cells;
    };
    const Layout farClusters = [&](int64_t side) {
        auto cells = tile(side / 10);
        for (const auto &c : tile(side * 8 / 10))
            cells.push_back(c);
        return cells;
    };
    const Layout corners = [](int64_t side) {
        std::vector<std::pair<int64_t, int64_t>> cells;
        for (int64_t i = 0; i < 100; ++i)
            cells.push_back(i % 2 == 0 ? std::pair<int64_t, int64_t>{i * 3, i * 5}
                                       : std::pair<int64_t, int64_t>{side - 1 - i * 5, side - 1 - i * 3});
        return cells;
    };
    // Beyond the grid too: west of it, and north of its north-east corner.
    const Layout stripAndBeyond = [&](int64_t side) {
        auto cells = strip(side);
        cells.push_back({-5, 10});
        cells.push_back({side - 1, side + 2});
        return cells;
    };
    enum class Header { True, FirstPointOnly, EveryGrid };
    const struct {
        const char *label;
        int64_t side;   // fine cells a side of the DEM
        GridForm form;  // of the DEM (the coarse grid is a .flt)
        Layout layout;
        Header bounds;
        int64_t declared;   // the header's point count; -1: the points'
        int64_t truncated;  // records the file holds; -1: all
        long overTileKiB;   // peak memory allowed over the tile's (the first row)
    } cases[] = {
        {"tile", 100000, GridForm::FloatEhdr, tileLayout, Header::True, -1, -1, 0},
        {"strip along the diagonal", 100000, GridForm::FloatClassic, strip, Header::True, -1, -1, 32 << 10},
        {"tile and a stray point", 100000, GridForm::FloatClassic, tileAndStray, Header::True, -1, -1, 12 << 10},
        {"tile and a stray point, 8,000 cells", 8000, GridForm::FloatClassic, tileAndStray, Header::True, -1, -1,
         8 << 10},
        {"tile and a stray point, .asc", 2000, GridForm::Ascii, tileAndStray, Header::True, -1, -1, 4 << 10},
        {"two far clusters", 100000, GridForm::FloatEhdr, farClusters, Header::EveryGrid, -1, -1, 16 << 10},
        {"alternating corners", 100000, GridForm::FloatClassic, corners, Header::True, -1, -1, 16 << 10},
        {"strip and points beyond the grid", 100000, GridForm::FloatClassic, stripAndBeyond, Header::EveryGrid, -1, -1,
         32 << 10},
        {"stale header bounds: the first point's", 100000, GridForm::FloatClassic, strip, Header::FirstPointOnly, -1,
         -1, 32 << 10},
        {"header counting 50 of 100 records", 100000, GridForm::FloatClassic, corners, Header::True, 50, -1, 8 << 10},
        {"header counting 1,000, 10 records held", 100000, GridForm::FloatClassic, corners, Header::EveryGrid, 1000, 10,
         8 << 10},
        {"header counting 4,294,967,295, 10 records held", 12000, GridForm::FloatClassic, corners, Header::EveryGrid,
         UINT32_MAX, 10, 8 << 10},
        {"a file ending inside its fifth record", 100000, GridForm::FloatClassic, strip, Header::EveryGrid, -1, 4,
         8 << 10},
    };
    long tileKiB = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        const int64_t side = c.side, coarseSide = side / kCoarse;
        std::vector<Point> points;
        std::vector<std::pair<int64_t, int64_t>> cells = c.layout(side);
        for (size_t i = 0; i < cells.size(); ++i) {
            const auto [col, row] = cells[i];
            const bool inside = col >= 0 && row >= 0 && col < side && row < side;
            const float v = inside ? coarseValue(row / kCoarse, col / kCoarse) : 100.0f;
            const double z = (v == -9999.0f ? 100.0 : v) + static_cast<double>(i % 4) * 0.7 - 1.05;
            points.push_back({static_cast<int32_t>(col * 100 + 50), static_cast<int32_t>(row * 100 + 50),
                              static_cast<int32_t>(std::llround(z * 100)), 1});
        }
        LasSpec layout;
        layout.offset[0] = kMinX;
        layout.offset[1] = kMinY;
        layout.declaredCount = c.declared;
        std::string las = buildLas(layout, points);
        if (c.bounds == Header::FirstPointOnly) {
            const double x = kMinX + points[0].x * 0.01, y = kMinY + points[0].y * 0.01;
            setBounds(las, x, x, y, y);
        } else if (c.bounds == Header::EveryGrid) {
            setBounds(las, 1e300, -1e300, 1e300, -1e300);
        }
        if (c.truncated >= 0)
            las.resize(227 + static_cast<size_t>(c.truncated) * 28 + (c.truncated == 4 ? 9 : 0));
        writeFile(dir / "in.las", las);

        // The coarse grid, held whole.
        TestGrid coarse{.rows = static_cast<int>(coarseSide),
                        .cols = static_cast<int>(coarseSide),
                        .minx = kMinX,
                        .miny = kMinY,
                        .cell = kCoarse,
                        .south = {}};
        for (int64_t r = 0; r < coarseSide; ++r)
            for (int64_t k = 0; k < coarseSide; ++k)
                coarse.south.push_back(coarseValue(r, k));
        const std::string reference = coarse.write(dir, GridForm::FloatClassic, "coarse");
        const RunResult expected = runMorvane({reference, "in.las", "out.las", "-1", "1"}, dir.path());
        ASSERT_TRUE(expected.status == 0 || expected.status == 1 || expected.status == 255) << expected.out;
        const std::string expectedOutput = expected.status == 0 ? readFile(dir / "out.las") : "";

        // The fine DEM: sparse, its cells written only under the points.
        std::string dem;
        if (c.form == GridForm::Ascii) {
            // Written row by row: the test's own memory is the children's
            // starting peak.
            std::map<int64_t, std::map<int64_t, float>> written;  // row, column
            for (const auto &[col, row] : cells)
                if (col >= 0 && row >= 0 && col < side && row < side)
                    written[row][col] = coarseValue(row / kCoarse, col / kCoarse);
            std::string text = gridHeader(static_cast<int>(side), static_cast<int>(side), "500000", "4500000", "1",
                                          "-9999");
            text.reserve(text.size() + static_cast<size_t>(side * side * 2) + written.size() * 32);
            for (int64_t r = side - 1; r >= 0; --r) {
                const auto here = written.find(r);
                for (int64_t k = 0; k < side; ++k) {
                    const bool patched = here != written.end() && here->second.count(k) != 0;
                    text += patched ? exactDecimal(here->second.at(k)) + " " : std::string("0 ");
                }
                text += "\n";
            }
            writeFile(dir / "dem.asc", text);
            dem = "dem.asc";
        } else {
            TestGrid shape{.rows = static_cast<int>(side),
                           .cols = static_cast<int>(side),
                           .minx = kMinX,
                           .miny = kMinY,
                           .cell = 1,
                           .south = {}};
            writeFile(dir / "dem.hdr", shape.headerText(c.form));
            writeFile(dir / "dem.flt", "");
            const std::string path = dir / "dem.flt";
            ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(side * side * 4)), 0);
            const int fd = ::open(path.c_str(), O_WRONLY);
            ASSERT_GE(fd, 0);
            for (const auto &[col, row] : cells) {
                if (col < 0 || row < 0 || col >= side || row >= side)
                    continue;
                const float v = coarseValue(row / kCoarse, col / kCoarse);
                ASSERT_EQ(::pwrite(fd, &v, 4, static_cast<off_t>(((side - 1 - row) * side + col) * 4)), 4);
            }
            ::close(fd);
            dem = "dem.flt";
        }
        const RunResult r = runMorvane({dem, "in.las", "out.las", "-1", "1"}, dir.path());
        EXPECT_EQ(r.status, expected.status) << r.out;
        const auto afterRaster = [](const std::string &out) {
            return maskTiming(out.substr(std::min(out.find("Limiting values"), out.size())));
        };
        EXPECT_EQ(afterRaster(r.out), afterRaster(expected.out));
        if (expected.status == 0) {
            EXPECT_TRUE(readFile(dir / "out.las") == expectedOutput) << "output differs";
        }
        if (tileKiB == 0)
            tileKiB = r.peakKiB;
        // A child's peak starts from this process's: it counts only above it.
        EXPECT_LE(r.peakKiB, std::max(tileKiB, ownPeakKiB()) + c.overTileKiB);
    }
}

void limitData()
{
    const rlimit limit{256u << 20, 256u << 20};
    ::setrlimit(RLIMIT_DATA, &limit);
}

void limitAddressSpace()
{
    const rlimit limit{512u << 20, 512u << 20};
    ::setrlimit(RLIMIT_AS, &limit);
}

// Under a limit on the process's memory, cells that would pass the machine's
// memory but not the limit are refused with the raster's message before any
// is held; cells within it are held. (AddressSanitizer reserves terabytes of
// address space, which these limits would refuse at its start.)
TEST(WindowedRaster, MemoryLimitsRefuseBeforeHolding)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "resource limits on memory do not apply under AddressSanitizer";
#endif
    const struct {
        const char *label;
        void (*limit)();
        int side;  // of the DEM, in 1 m cells; a point in each block of 128 x 128
        int status;
    } cases[] = {
        {"RLIMIT_DATA 256 MiB, 400 MB of cells", limitData, 10000, 255},
        {"RLIMIT_AS 512 MiB, 784 MB of cells", limitAddressSpace, 14000, 255},
        {"RLIMIT_DATA 256 MiB, 64 MB of cells", limitData, 4000, 0},
        {"RLIMIT_AS 512 MiB, 144 MB of cells", limitAddressSpace, 6000, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        writeFile(dir / "dem.hdr", gridHeader(c.side, c.side, "500000", "4500000", "1", "-9999"));
        writeFile(dir / "dem.flt", "");
        ASSERT_EQ(::truncate((dir / "dem.flt").c_str(), off_t{c.side} * c.side * 4), 0);
        std::vector<Point> points;
        for (int row = 64; row < c.side; row += 128)
            for (int col = 64; col < c.side; col += 128)
                points.push_back({col, row, 0, 1});
        LasSpec layout;
        layout.scale[0] = layout.scale[1] = 1.0;
        layout.offset[0] = 500000;
        layout.offset[1] = 4500000;
        std::string las = buildLas(layout, points);
        const double low = 64, high = points.back().x;
        setBounds(las, 500000 + high, 500000 + low, 4500000 + high, 4500000 + low);
        writeFile(dir / "in.las", las);
        RunOptions options;
        options.cwd = dir.path();
        options.beforeExec = c.limit;
        const RunResult r = runProgram(MORVANE_EXE, {"dem.flt", "in.las", "out.las", "-1", "1"}, options);
        EXPECT_EQ(r.status, c.status) << r.out;
        if (c.status == 255) {
            const std::string refusal = "\nRaster dem.flt (" + std::to_string(c.side) + " rows x " +
                                        std::to_string(c.side) + " columns) is too large to hold in memory\n";
            EXPECT_TRUE(r.out.ends_with(refusal)) << r.out;
            EXPECT_LT(r.peakKiB, 64 << 10);
        }
    }
}

}  // namespace
