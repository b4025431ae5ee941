#include "raster/cells_needed.h"

#include "lidar/internal/block_size.h"
#include "lidar/internal/read_at.h"
#include "lidar/internal/record_extent.h"
#include "lidar/internal/unaligned.h"
#include "raster/raster.h"
#include "run_failure.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <optional>
#include <sys/stat.h>
#include <unordered_set>

namespace morvane {

namespace {

// Cells [first, last] of one axis widened by one on each side, clamped to
// [0, n); false when nothing is left. The quotient is the record loop's, so
// a point's own cell is always inside when its coordinate is.
bool axisRange(double low, double high, double corner, double cellsize, int32_t n, int32_t &begin, int32_t &end)
{
    const double first = std::floor((low - corner) / cellsize) - 1.0;
    const double last = std::floor((high - corner) / cellsize) + 1.0;
    if (!(first <= last) || last < 0.0 || first >= n)  // NaN fails the first test
        return false;
    begin = static_cast<int32_t>(std::max(first, 0.0));
    end = static_cast<int32_t>(std::min(last + 1.0, static_cast<double>(n)));
    return true;
}

// A box this much larger than the blocks under the points is still held
// as one window: its cells are found by one subtraction and the vector
// kernel serves.
constexpr uint64_t kBoxSlackBytes = uint64_t{8} << 20;

// The blocks under the points seen: one bit a block of the grid, or, for a
// grid of more blocks than that should cost (over 1 MiB of bits), a set of
// those seen, looked up only when a point is on another block than the one
// before.
class BlocksSeen {
public:
    explicit BlocksSeen(const GridGeometry &g)
        : cols_(static_cast<uint64_t>(blocksAlong(g.cols))),
          bitmap_(static_cast<uint64_t>(blocksAlong(g.rows)) * cols_ <= kMaxBitmapBlocks)
    {
        if (bitmap_)
            bits_.assign((static_cast<uint64_t>(blocksAlong(g.rows)) * cols_ + 63) / 64, 0);
    }

    void add(int32_t row, int32_t col)
    {
        const uint64_t key = static_cast<uint64_t>(row) * cols_ + static_cast<uint64_t>(col);
        if (bitmap_) {
            bits_[key >> 6] |= uint64_t{1} << (key & 63);
        } else if (key != last_) {
            hashed_.insert(key);
            last_ = key;
        }
    }

    // In northFirst order.
    std::vector<BlockId> list() const
    {
        std::vector<BlockId> blocks;
        const auto push = [&](uint64_t key) {
            blocks.push_back({static_cast<int32_t>(key / cols_), static_cast<int32_t>(key % cols_)});
        };
        for (size_t w = 0; w < bits_.size(); ++w)
            for (uint64_t word = bits_[w]; word != 0; word &= word - 1)
                push(w * 64 + static_cast<uint64_t>(std::countr_zero(word)));
        for (const uint64_t key : hashed_)
            push(key);
        std::sort(blocks.begin(), blocks.end(), northFirst);
        return blocks;
    }

private:
    static constexpr uint64_t kMaxBitmapBlocks = uint64_t{1} << 23;
    uint64_t cols_;
    bool bitmap_;
    std::vector<uint64_t> bits_;
    std::unordered_set<uint64_t> hashed_;
    uint64_t last_ = UINT64_MAX;
};

// Whether the cells held serve every point whose cells `needed` are.
bool holdsAll(const Raster &raster, const CellsNeeded &needed)
{
    const BlockView held = raster.blocks.view();
    if (!held.held())
        return raster.window.contains(needed.window);
    const auto isHeld = [&](int32_t blockRow, int32_t blockCol) {
        return held.slotOf(blockStart(blockRow), blockStart(blockCol)) != kNoBlock;
    };
    if (needed.blocked())
        return std::all_of(needed.blocks.begin(), needed.blocks.end(),
                           [&](const BlockId &b) { return isHeld(b.row, b.col); });
    const CellWindow &w = needed.window;
    if (w.rows() <= 0 || w.cols() <= 0)
        return true;
    for (int32_t r = blockOf(w.rowBegin); r <= blockOf(w.rowEnd - 1); ++r)
        for (int32_t c = blockOf(w.colBegin); c <= blockOf(w.colEnd - 1); ++c)
            if (!isHeld(r, c))
                return false;
    return true;
}

// The blocks under records [from, to): nullopt when they cannot all be read.
// The cell is the record loop's quotient, operation for operation (for a
// power-of-two cell size it multiplies by the inverse, which is exact).
std::optional<std::vector<BlockId>> blocksUnderRecords(const GridGeometry &g, const LAS12Header &h, int fd,
                                                       uint64_t from, uint64_t to)
{
    const size_t len = h.PointDataRecordLength;
    std::vector<uint8_t> chunk(std::max<size_t>(1, lidar::kBlockBytes / len) * len);
    BlocksSeen seen(g);
    const bool exact = inverseIsExact(g.cellsize);
    const double inverse = 1.0 / g.cellsize, rows = g.rows, cols = g.cols;
    uint64_t offset = h.OffsetToData + from * len;
    for (uint64_t left = to - from; left != 0;) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(left, chunk.size() / len)) * len;
        const size_t whole = lidar::read_at(fd, chunk.data(), want, offset).bytes / len;
        if (whole * len != want)
            return std::nullopt;
        for (size_t k = 0; k < whole; ++k) {
            const uint8_t *rec = chunk.data() + k * len;
            const double dx = static_cast<double>(lidar::load_unaligned<int32_t>(rec)) * h.XScaleFactor + h.XOffset -
                              g.minx;
            const double dy = static_cast<double>(lidar::load_unaligned<int32_t>(rec + 4)) * h.YScaleFactor +
                              h.YOffset - g.miny;
            const double col = exact ? dx * inverse : dx / g.cellsize;
            const double row = exact ? dy * inverse : dy / g.cellsize;
            if (row >= 0.0 && row < rows && col >= 0.0 && col < cols)
                seen.add(blockOf(static_cast<int32_t>(row)), blockOf(static_cast<int32_t>(col)));
        }
        offset += want;
        left -= whole;
    }
    return seen.list();
}

}  // namespace

CellWindow windowForBounds(const GridGeometry &g, double minX, double maxX, double minY, double maxY)
{
    CellWindow w;
    if (!axisRange(minX, maxX, g.minx, g.cellsize, g.cols, w.colBegin, w.colEnd) ||
        !axisRange(minY, maxY, g.miny, g.cellsize, g.rows, w.rowBegin, w.rowEnd))
        return {};
    return w;
}

CellWindow windowForRecords(const GridGeometry &g, const LAS12Header &h, const lidar::PointStats &stats)
{
    if (stats.count == 0)
        return {};
    // A negative scale turns the stored extremes around.
    const double x0 = stats.minX * h.XScaleFactor + h.XOffset, x1 = stats.maxX * h.XScaleFactor + h.XOffset;
    const double y0 = stats.minY * h.YScaleFactor + h.YOffset, y1 = stats.maxY * h.YScaleFactor + h.YOffset;
    return windowForBounds(g, std::fmin(x0, x1), std::fmax(x0, x1), std::fmin(y0, y1), std::fmax(y0, y1));
}

std::optional<uint64_t> wholeRecordsInFile(const LAS12Header &h, int fd)
{
    struct stat st {};
    if (h.PointDataRecordLength == 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    const auto size = static_cast<uint64_t>(st.st_size);
    return size > h.OffsetToData ? (size - h.OffsetToData) / h.PointDataRecordLength : 0;
}

uint64_t recordsInFile(const LAS12Header &h, int fd)
{
    const uint64_t counted = h.NumberOfPointReturns;
    return std::min(counted, wholeRecordsInFile(h, fd).value_or(counted));
}

CellsNeeded cellsForRecords(const GridGeometry &g, const LAS12Header &h, int fd, uint64_t from, uint64_t to)
{
    if (from >= to)
        return {};
    LAS12Header upTo = h;
    upTo.NumberOfPointReturns = static_cast<uint32_t>(to);
    const lidar::RecordExtent extent = lidar::measure_records(fd, upTo, from);
    if (!extent.complete)
        return {CellWindow::whole(g), {}};
    const CellWindow box = windowForRecords(g, h, extent.stats);
    const uint64_t boxBytes = box.cellCount() * sizeof(float);
    // A small box is held as it is; a larger one only where it costs
    // little more than the blocks under the points, which a second look at
    // the records finds.
    if (boxBytes <= kBoxSlackBytes && cellsFitInMemory(box))
        return {box, {}};
    std::optional<std::vector<BlockId>> blocks = blocksUnderRecords(g, h, fd, from, to);
    if (!blocks)
        return {CellWindow::whole(g), {}};
    const uint64_t blockBytes = blockCellCount(*blocks) * sizeof(float) + blockDirectoryBytes(*blocks);
    if (cellsFitInMemory(box) && boxBytes <= blockBytes + kBoxSlackBytes)
        return {box, {}};
    return {box, std::move(*blocks)};
}

CellsNeeded cellsForInput(const Raster &raster, const LAS12Header &h, int fd)
{
    if (h.NumberOfPointReturns == 0)
        return {};
    // A file that ends early needs the cells of the records it holds only:
    // the record loop then reports where it ends.
    const uint64_t held = recordsInFile(h, fd);
    if (held == 0)
        return {};
    const GridGeometry &g = raster.grid();
    const CellWindow whole = CellWindow::whole(g);
    const CellWindow hinted = windowForBounds(g, h.MinX, h.MaxX, h.MinY, h.MaxY);
    // Stale or inflated bounds must not set the memory, nor a box mostly
    // empty (a strip along a diagonal, a stray point far from its tile):
    // cells that would cost more than a quarter of the records' bytes are
    // worth a look at the records first. An ASCII grid is parsed once, so
    // its window must be the points' own unless it is the whole grid anyway.
    const uint64_t cellBytes = hinted.cellCount() * sizeof(float);
    const uint64_t recordBytes = held * h.PointDataRecordLength;
    if (cellsFitInMemory(hinted) && cellBytes <= recordBytes / 4 && (!raster.ascii() || hinted == whole))
        return {hinted, {}};
    return cellsForRecords(g, h, fd, 0, held);
}

void holdCells(Raster &raster, const CellsNeeded &needed, Progress progress)
{
    if (needed.blocked())
        loadBlocks(raster, needed.blocks, progress);
    else
        loadCells(raster, needed.window, progress);
}

void holdCellsForRest(Raster &raster, const LAS12Header &h, const char *inName, int fd, uint64_t from)
{
    const GridGeometry &g = raster.grid();
    CellsNeeded needed = cellsForRecords(g, h, fd, from, recordsInFile(h, fd));
    // A point outside the cells held must be among those read:
    // otherwise the file changed under the run, and the whole grid serves.
    if (holdsAll(raster, needed))
        needed = {CellWindow::whole(g), {}};
    releaseCells(raster);
    const bool fits = needed.blocked()
                          ? cellsFitInMemory(blockCellCount(needed.blocks), blockDirectoryBytes(needed.blocks))
                          : cellsFitInMemory(needed.window);
    if (!fits)
        failRun("\nThe header bounds of %s (X %.3f to %.3f, Y %.3f to %.3f) do not cover its points, and the "
                "%d x %d raster cells under them are too many to hold in memory\n",
                inName, h.MinX, h.MaxX, h.MinY, h.MaxY, needed.window.rows(), needed.window.cols());
    holdCells(raster, needed, Progress::Silent);
}

}  // namespace morvane
