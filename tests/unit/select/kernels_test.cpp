// Each vector kernel the processor runs against the portable one: same
// records kept, in the same order, and the same tally, bit for bit, on
// blocks built to hit what the vector kernels do differently: the inverse of the cell size standing
// in for a division (points exactly on, and a hair either side of, cell
// borders), lanes outside the grid, NODATA and NaN cells, NaN and infinite
// coordinates, and block lengths that leave a partial group of four or eight.
#include "raster/raster.h"
#include "select/kernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

using namespace morvane;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// A raster of random heights, some in whole quarters, with NODATA and NaN
// cells sprinkled in; the cells held are `window` (the whole grid when none
// is given).
Raster makeRaster(int32_t rows, int32_t cols, double minx, double miny, double cellsize, float nodata,
                  std::mt19937 &rng, std::optional<CellWindow> window = std::nullopt)
{
    Raster r;
    r.header.grid = {rows, cols, minx, miny, cellsize};
    r.header.hasNodata = true;
    r.header.nodata = nodata;
    r.window = window.value_or(CellWindow::whole(r.header.grid));
    const size_t count = static_cast<size_t>(r.window.cellCount());
    r.cells = CellBlock::allocate(count);
    std::uniform_real_distribution<float> height(-5.0f, 5.0f);
    for (size_t i = 0; i < count; ++i) {
        const uint32_t kind = rng() % 16;
        // Some heights in quarters, so that a Z in centimetres meets a limit exactly.
        r.cells[i] = kind == 0   ? nodata
                     : kind == 1 ? std::numeric_limits<float>::quiet_NaN()
                     : kind < 6  ? std::round(height(rng) * 4.0f) / 4.0f
                                 : height(rng);
    }
    return r;
}

struct Case {
    const char *label;
    double cellsize;
    double scale;   // X and Y scale factor
    double offset;  // added to X and Y before the corner is taken off
    double minx = 1000.0, miny = 2000.0;
    float nodata = -9999.0f;
};

// Raw coordinates that land exactly on a cell border, one raw unit either
// side of it, anywhere in or around the grid, or far outside it.
int32_t rawCoordinate(std::mt19937 &rng, const Case &c, double corner, int32_t cells)
{
    const double cellsize = c.cellsize;
    const auto toRaw = [&](double world) {
        const double raw = std::nearbyint((world - c.offset) / c.scale);
        return static_cast<int32_t>(std::fmax(-2e9, std::fmin(2e9, raw)));
    };
    std::uniform_int_distribution<int32_t> border(-2, cells + 2);
    switch (rng() % 5) {
    case 0: return toRaw(corner + border(rng) * cellsize);
    case 1: return toRaw(corner + border(rng) * cellsize) + static_cast<int32_t>(rng() % 3) - 1;
    case 2: return static_cast<int32_t>(rng());
    default: {
        std::uniform_real_distribution<double> anywhere(-1.5, cells + 1.5);
        return toRaw(corner + anywhere(rng) * cellsize);
    }
    }
}

std::vector<uint8_t> makeRecords(std::mt19937 &rng, const Case &c, size_t count, size_t len, int32_t rows, int32_t cols)
{
    std::vector<uint8_t> records(count * len);
    std::uniform_int_distribution<int> byte(0, 255);
    for (uint8_t &b : records)
        b = static_cast<uint8_t>(byte(rng));
    std::uniform_int_distribution<int32_t> z(-700, 700);  // within the cells' heights, in centimetres
    for (size_t k = 0; k < count; ++k) {
        uint8_t *rec = records.data() + k * len;
        const int32_t xyz[3] = {rawCoordinate(rng, c, c.minx, cols), rawCoordinate(rng, c, c.miny, rows), z(rng)};
        std::memcpy(rec, xyz, sizeof xyz);
    }
    return records;
}

// The vector kernels this processor runs: none skips the test.
std::vector<VectorKernel> runnableKernels()
{
    std::vector<VectorKernel> kernels;
    for (const VectorKernel &k : vectorKernels())
        if (k.available())
            kernels.push_back(k);
    return kernels;
}

LAS12Header headerFor(const Case &c)
{
    LAS12Header h{};
    h.XScaleFactor = c.scale;
    h.YScaleFactor = c.scale;
    h.ZScaleFactor = 0.01;
    h.XOffset = c.offset;
    h.YOffset = c.offset;
    h.ZOffset = 0.0;
    return h;
}

TEST(RecordSelection, VectorKernelMatchesThePortableOne)
{
    const std::vector<VectorKernel> kernels = runnableKernels();
    if (kernels.empty())
        GTEST_SKIP() << "this processor runs no vector kernel";
    const Case cases[] = {
        {"power-of-two cell, exact inverse", 1.0, 0.01, 0.0},
        {"half-metre cell", 0.5, 0.001, 500.0},
        {"three-metre cell", 3.0, 0.01, 0.0},
        {"decimetre cell", 0.1, 0.001, 0.0},
        {"cell of 2.5", 2.5, 0.01, -250.0},
        {"cell of 0.7, fine scale", 0.7, 0.0001, 1000.0},
        {"tiny cell", 1e-3, 1e-6, 1000.0},
        {"huge cell", 3e6, 0.01, 0.0},
        {"cell of 30, coarse scale", 30.0, 1.0, 0.0},
        {"NaN offset", 1.5, 0.01, kNaN},
        {"infinite offset", 1.5, 0.01, kInf},
        {"NaN scale", 1.5, kNaN, 0.0},
        {"UTM north, quarter-metre cells", 0.25, 0.001, 4500000.0, 500000.0, 4500000.25},
        {"UTM south, half-metre cells", 0.5, 0.01, 8500000.0, 712345.5, 8512345.5},
        {"State Plane feet, 3 ft cells", 3.0, 0.01, 2100000.0, 2100000.37, 710000.13},
        {"degrees, 1/3 arc-second cells", 1.0 / 10800.0, 1e-7, -120.0, -122.3456789, 47.6543219},
        {"NaN NODATA declared", 1.5, 0.01, 0.0, 1000.0, 2000.0, std::numeric_limits<float>::quiet_NaN()},
    };
    const size_t lengths[] = {20, 26, 28, 34};
    const size_t counts[] = {1, 3, 4, 5, 7, 8, 9, 63, 1000, 4099};
    std::mt19937 rng(20261208);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        const int32_t rows = 1 + static_cast<int32_t>(rng() % 40), cols = 1 + static_cast<int32_t>(rng() % 40);
        // The whole grid held, only part of it or no cell at all: then both
        // stop at the same record, the first in the grid outside the cells
        // held.
        const CellWindow part{rows / 3, rows - rows / 4, cols / 4, cols - cols / 3};
        const CellWindow none{rows / 2, rows / 2, cols / 2, cols / 2};
        for (const std::optional<CellWindow> &held :
             {std::optional<CellWindow>{}, std::optional{part}, std::optional{none}}) {
            const Raster raster = makeRaster(rows, cols, c.minx, c.miny, c.cellsize, c.nodata, rng, held);
            const SelectionContext context(headerFor(c), raster, {-1.5, 2.0});
            for (const size_t len : lengths) {
                for (const size_t count : counts) {
                    SCOPED_TRACE("record length " + std::to_string(len) + ", " + std::to_string(count) + " records");
                    const std::vector<uint8_t> records = makeRecords(rng, c, count, len, rows, cols);
                    std::vector<uint8_t> portable = records;
                    Tally portableTally;
                    const Selection p = selectRecordsPortable(portable.data(), portable.data(), count, len, context,
                                                              portableTally);
                    for (const VectorKernel &kernel : kernels) {
                        SCOPED_TRACE(kernel.instructions);
                        std::vector<uint8_t> vector = records;
                        Tally vectorTally;
                        const Selection v = kernel.select(vector.data(), vector.data(), count, len, context,
                                                          vectorTally);
                        ASSERT_EQ(v.classified, p.classified);
                        ASSERT_EQ(v.keptEnd - vector.data(), p.keptEnd - portable.data());
                        ASSERT_EQ(vectorTally.outside, portableTally.outside);
                        ASSERT_EQ(vectorTally.onNodata, portableTally.onNodata);
                        ASSERT_TRUE(std::equal(vector.data(), v.keptEnd, portable.data()));
                        // What was not classified is untouched.
                        ASSERT_TRUE(std::equal(vector.begin() + static_cast<long>(v.classified * len), vector.end(),
                                               records.begin() + static_cast<long>(v.classified * len)));
                    }
                }
            }
        }
    }
}

// Where multiplying by the inverse floors to the other side of a border
// than the division does, the division's cell is the one taken. Columns
// alternate between NODATA and data, so a wrong column changes the tally.
TEST(RecordSelection, BordersFollowTheDivision)
{
    const std::vector<VectorKernel> kernels = runnableKernels();
    if (kernels.empty())
        GTEST_SKIP() << "this processor runs no vector kernel";
    std::mt19937 rng(7);
    const double cellsize = 2.5;
    const Raster raster = makeRaster(4, 200, 0.0, 0.0, cellsize, -9999.0f, rng);
    for (size_t i = 0; i < 4 * 200; ++i)
        raster.cells[i] = i % 2 == 0 ? -9999.0f : 1.0f;
    const double c = cellsize, inverse = 1.0 / c;
    int disagreeing = 0;
    for (int k = 1; k < 200; ++k) {
        // The few doubles around k cells from the corner.
        double d = k * c;
        for (int step = 0; step < 8; ++step)
            d = std::nextafter(d, -kInf);
        for (int step = 0; step < 16; ++step, d = std::nextafter(d, kInf)) {
            if (std::floor(d * inverse) == std::floor(d / c))
                continue;
            ++disagreeing;
            // X is one raw unit scaled by d, so that the coordinate is d.
            LAS12Header h{};
            h.XScaleFactor = d;
            h.YScaleFactor = 1.0;
            h.ZScaleFactor = 0.01;
            const SelectionContext context(h, raster, {-kInf, kInf});
            std::vector<uint8_t> records(9 * 20, 0);
            for (size_t i = 0; i < 9; ++i) {
                const int32_t xyz[3] = {1, 1, 0};
                std::memcpy(records.data() + i * 20, xyz, sizeof xyz);
            }
            const bool onData = static_cast<int64_t>(std::floor(d / c)) % 2 == 1;
            for (const VectorKernel &kernel : kernels) {
                std::vector<uint8_t> vector = records;
                Tally tally;
                const Selection s = kernel.select(vector.data(), vector.data(), 9, 20, context, tally);
                EXPECT_EQ(s.keptEnd - vector.data(), onData ? 9 * 20 : 0) << kernel.instructions << " " << d;
                EXPECT_EQ(tally.onNodata, onData ? 0u : 9u) << kernel.instructions << " " << d;
            }
        }
    }
    EXPECT_GT(disagreeing, 0) << "no border where the product and the quotient floor apart";
}

// The same grid held whole and held as blocks: the portable kernel keeps
// the same records, in the same order, with the same tally. With only some
// blocks held it stops at the first record in the grid on a block not
// held, having done up to there what the whole grid's run did.
TEST(RecordSelection, BlocksGiveTheWholeGridsResult)
{
    const Case cases[] = {
        {"power-of-two cell, exact inverse", 1.0, 0.01, 0.0},
        {"three-metre cell", 3.0, 0.01, 0.0},
        {"UTM north, quarter-metre cells", 0.25, 0.001, 4500000.0, 500000.0, 4500000.25},
        {"State Plane feet, 3 ft cells", 3.0, 0.01, 2100000.0, 2100000.37, 710000.13},
        {"NaN NODATA declared", 1.5, 0.01, 0.0, 1000.0, 2000.0, std::numeric_limits<float>::quiet_NaN()},
    };
    std::mt19937 rng(20261209);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        // Up to three blocks a side, the last ones partly beyond the grid.
        const int32_t rows = 1 + static_cast<int32_t>(rng() % 380), cols = 1 + static_cast<int32_t>(rng() % 380);
        const Raster whole = makeRaster(rows, cols, c.minx, c.miny, c.cellsize, c.nodata, rng);
        std::vector<BlockId> every, some;
        for (int32_t r = 0; r < blocksAlong(rows); ++r)
            for (int32_t k = 0; k < blocksAlong(cols); ++k) {
                every.push_back({r, k});
                if ((r + k) % 2 == 0)
                    some.push_back({r, k});
            }
        for (const std::vector<BlockId> *held : {&every, &some}) {
            Raster blocked;
            blocked.header = whole.header;
            blocked.window = CellWindow::whole(whole.grid());
            blocked.blocks = BlockDirectory(*held);
            blocked.cells = CellBlock::allocate(held->size() * kBlockCells);
            const BlockView view = blocked.blocks.view();
            for (int32_t r = 0; r < rows; ++r)
                for (int32_t k = 0; k < cols; ++k)
                    if (const uint32_t slot = view.slotOf(r, k); slot != kNoBlock)
                        blocked.cells[blockCellIndex(slot, r, k)] = whole.at(r, k);
            const SelectionContext wholeContext(headerFor(c), whole, {-1.5, 2.0});
            const SelectionContext blockedContext(headerFor(c), blocked, {-1.5, 2.0});
            for (const size_t len : {size_t{20}, size_t{28}, size_t{31}}) {
                SCOPED_TRACE("record length " + std::to_string(len) + (held == &every ? ", every block" : ", some"));
                const size_t count = 3000;
                const std::vector<uint8_t> records = makeRecords(rng, c, count, len, rows, cols);
                std::vector<uint8_t> fromBlocks = records;
                Tally blockedTally;
                const Selection b = selectRecordsPortable(fromBlocks.data(), fromBlocks.data(), count, len,
                                                          blockedContext, blockedTally);
                if (held == &every) {
                    ASSERT_EQ(b.classified, count);
                }
                // The whole grid's run over the records the blocked run classified.
                std::vector<uint8_t> fromWhole = records;
                Tally wholeTally;
                const Selection w = selectRecordsPortable(fromWhole.data(), fromWhole.data(), b.classified, len,
                                                          wholeContext, wholeTally);
                ASSERT_EQ(w.classified, b.classified);
                ASSERT_EQ(w.keptEnd - fromWhole.data(), b.keptEnd - fromBlocks.data());
                ASSERT_EQ(wholeTally.outside, blockedTally.outside);
                ASSERT_EQ(wholeTally.onNodata, blockedTally.onNodata);
                ASSERT_TRUE(std::equal(fromWhole.data(), w.keptEnd, fromBlocks.data()));
                if (b.classified < count) {
                    // The record it stopped at lies on a block not held.
                    const uint8_t *rec = records.data() + b.classified * len;
                    int32_t xy[2];
                    std::memcpy(xy, rec, sizeof xy);
                    const double col = (xy[0] * c.scale + c.offset - c.minx) / c.cellsize;
                    const double row = (xy[1] * c.scale + c.offset - c.miny) / c.cellsize;
                    ASSERT_TRUE(row >= 0 && row < rows && col >= 0 && col < cols);
                    EXPECT_EQ(view.slotOf(static_cast<int32_t>(row), static_cast<int32_t>(col)), kNoBlock);
                }
                // The vector kernels hand cells held as blocks to the portable one.
                for (const VectorKernel &kernel : runnableKernels()) {
                    std::vector<uint8_t> vector = records;
                    Tally vectorTally;
                    const Selection v = kernel.select(vector.data(), vector.data(), count, len, blockedContext,
                                                      vectorTally);
                    ASSERT_EQ(v.classified, b.classified) << kernel.instructions;
                    ASSERT_TRUE(std::equal(vector.data(), v.keptEnd, fromBlocks.data(), b.keptEnd));
                }
            }
        }
    }
}

}  // namespace
