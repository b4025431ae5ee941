// A grid held as square blocks of cells: where the points' box is too large
// to hold, only the blocks under the points are, each in a slot of one
// allocation, found through a directory over the rectangle of blocks that
// holds them (one 4-byte entry a block).
#ifndef MORVANE_CELL_BLOCKS_H
#define MORVANE_CELL_BLOCKS_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace morvane {

constexpr int kBlockShift = 7;
constexpr int32_t kBlockSide = int32_t{1} << kBlockShift;  // cells a side
constexpr size_t kBlockCells = size_t{kBlockSide} * kBlockSide;
constexpr uint32_t kNoBlock = UINT32_MAX;  // a block not held

// A block's place among the grid's blocks: block row r holds grid rows
// [r * kBlockSide, (r + 1) * kBlockSide), counted from the south as the
// grid's rows are; the same for columns.
struct BlockId {
    int32_t row = 0, col = 0;
    bool operator==(const BlockId &) const = default;
};

// The order blocks are held and read in: as the files hold the rows, the
// northern block row first, each from west to east.
inline bool northFirst(const BlockId &a, const BlockId &b)
{
    return a.row != b.row ? a.row > b.row : a.col < b.col;
}

inline int32_t blockOf(int32_t cell)
{
    return cell >> kBlockShift;
}

// Blocks along an axis of `cells` cells, the last one perhaps partly beyond.
inline int32_t blocksAlong(int32_t cells)
{
    return static_cast<int32_t>((int64_t{cells} + kBlockSide - 1) >> kBlockShift);
}

// First cell of block `block` along an axis, and one past its last within
// an axis of `cells` cells.
inline int32_t blockStart(int32_t block)
{
    return block << kBlockShift;
}
inline int32_t blockEnd(int32_t block, int32_t cells)
{
    return static_cast<int32_t>(std::min<int64_t>(int64_t{block + 1} << kBlockShift, cells));
}

// Where the cell of grid row `row` and column `col` lies among the cells
// held, its block being in `slot`: each block's rows from the south, each
// row from west to east.
inline size_t blockCellIndex(uint32_t slot, int32_t row, int32_t col)
{
    return size_t{slot} * kBlockCells + static_cast<size_t>(row & (kBlockSide - 1)) * kBlockSide +
           static_cast<size_t>(col & (kBlockSide - 1));
}

// What the record loop reads of the directory: no slots when the cells
// held are one window.
struct BlockView {
    const uint32_t *slots = nullptr;
    int32_t rowBegin = 0, colBegin = 0;  // the rectangle's south-west block
    uint32_t rows = 0, cols = 0;         // its extent, in blocks

    bool held() const { return slots != nullptr; }
    // The slot of the block of a grid cell, or kNoBlock.
    uint32_t slotOf(int32_t row, int32_t col) const
    {
        const auto r = static_cast<uint32_t>(blockOf(row) - rowBegin);
        const auto c = static_cast<uint32_t>(blockOf(col) - colBegin);
        if (r >= rows || c >= cols)  // west or south of it wraps around
            return kNoBlock;
        return slots[size_t{r} * cols + c];
    }
};

// The blocks held, in northFirst order, block k in slot k.
class BlockDirectory {
public:
    BlockDirectory() = default;
    // Any order, repeats allowed.
    explicit BlockDirectory(std::vector<BlockId> blocks);

    // Directory entries the blocks need: the rectangle around them.
    static uint64_t entriesFor(const std::vector<BlockId> &blocks);

    bool empty() const { return blocks_.empty(); }
    const std::vector<BlockId> &blocks() const { return blocks_; }
    BlockView view() const
    {
        return empty() ? BlockView{} : BlockView{slots_.data(), rowBegin_, colBegin_, rows_, cols_};
    }

private:
    std::vector<BlockId> blocks_;
    std::vector<uint32_t> slots_;
    int32_t rowBegin_ = 0, colBegin_ = 0;
    uint32_t rows_ = 0, cols_ = 0;
};

// The blocks of one block row that lie side by side: [first, end) of a
// directory's list, which holds them in northFirst order.
struct BlockRun {
    size_t first = 0, end = 0;
};

// Walks a list of blocks in northFirst order grid row by grid row from the
// north: the runs of blocks under each row, west to east.
class BlockRuns {
public:
    explicit BlockRuns(const std::vector<BlockId> &blocks) : blocks_(blocks) {}
    // The runs under grid row `row`; rows must come from the north.
    const std::vector<BlockRun> &under(int32_t row);

private:
    const std::vector<BlockId> &blocks_;
    std::vector<BlockRun> runs_;
    size_t next_ = 0;               // the first block of a block row still to come
    int32_t blockRow_ = INT32_MAX;  // whose runs `runs_` holds
};

}  // namespace morvane

#endif
