#include "raster/cell_blocks.h"

#include <algorithm>
#include <utility>

namespace morvane {

namespace {

struct BlockRectangle {
    int32_t rowBegin = INT32_MAX, rowEnd = INT32_MIN, colBegin = INT32_MAX, colEnd = INT32_MIN;

    explicit BlockRectangle(const std::vector<BlockId> &blocks)
    {
        for (const BlockId &b : blocks) {
            rowBegin = std::min(rowBegin, b.row);
            rowEnd = std::max(rowEnd, b.row + 1);
            colBegin = std::min(colBegin, b.col);
            colEnd = std::max(colEnd, b.col + 1);
        }
    }
    uint32_t rows() const { return rowBegin < rowEnd ? static_cast<uint32_t>(rowEnd - rowBegin) : 0; }
    uint32_t cols() const { return colBegin < colEnd ? static_cast<uint32_t>(colEnd - colBegin) : 0; }
};

}  // namespace

uint64_t BlockDirectory::entriesFor(const std::vector<BlockId> &blocks)
{
    const BlockRectangle r(blocks);
    return uint64_t{r.rows()} * r.cols();
}

BlockDirectory::BlockDirectory(std::vector<BlockId> blocks) : blocks_(std::move(blocks))
{
    std::sort(blocks_.begin(), blocks_.end(), northFirst);
    blocks_.erase(std::unique(blocks_.begin(), blocks_.end()), blocks_.end());
    const BlockRectangle r(blocks_);
    rowBegin_ = r.rowBegin;
    colBegin_ = r.colBegin;
    rows_ = r.rows();
    cols_ = r.cols();
    slots_.assign(size_t{rows_} * cols_, kNoBlock);
    for (size_t k = 0; k < blocks_.size(); ++k) {
        const BlockId &b = blocks_[k];
        slots_[static_cast<size_t>(b.row - rowBegin_) * cols_ + static_cast<size_t>(b.col - colBegin_)] =
            static_cast<uint32_t>(k);
    }
}

const std::vector<BlockRun> &BlockRuns::under(int32_t row)
{
    const int32_t blockRow = blockOf(row);
    if (blockRow == blockRow_)
        return runs_;
    blockRow_ = blockRow;
    runs_.clear();
    while (next_ < blocks_.size() && blocks_[next_].row > blockRow)
        ++next_;
    while (next_ < blocks_.size() && blocks_[next_].row == blockRow) {
        BlockRun run{next_, next_ + 1};
        while (run.end < blocks_.size() && blocks_[run.end].row == blockRow &&
               blocks_[run.end].col == blocks_[run.end - 1].col + 1)
            ++run.end;
        runs_.push_back(run);
        next_ = run.end;
    }
    return runs_;
}

}  // namespace morvane
