// The arithmetic of a grid held as blocks: which block a cell is in, where
// it lies among the cells held, the directory that finds a block's slot,
// the runs of blocks side by side that a load reads in one go; and the
// memory limits as their files write them.
#include "raster/cell_blocks.h"
#include "raster/memory_limit.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

using namespace morvane;

namespace {

TEST(CellBlocks, BlocksAlongAnAxis)
{
    const struct {
        int32_t cells, blocks, lastStart, lastEnd;
    } cases[] = {
        {1, 1, 0, 1},
        {127, 1, 0, 127},
        {128, 1, 0, 128},
        {129, 2, 128, 129},
        {100000, 782, 99968, 100000},
        {INT32_MAX, 16777216, 2147483520, INT32_MAX},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.cells);
        EXPECT_EQ(blocksAlong(c.cells), c.blocks);
        EXPECT_EQ(blockOf(c.cells - 1), c.blocks - 1);
        EXPECT_EQ(blockStart(c.blocks - 1), c.lastStart);
        EXPECT_EQ(blockEnd(c.blocks - 1, c.cells), c.lastEnd);
    }
}

TEST(CellBlocks, CellsOfABlockLieInItsSlotOnly)
{
    // Every cell of blocks in slots 0 and 3, rows from the south, each row
    // west to east.
    EXPECT_EQ(blockCellIndex(0, 0, 0), 0u);
    EXPECT_EQ(blockCellIndex(0, 0, 127), 127u);
    EXPECT_EQ(blockCellIndex(0, 1, 0), 128u);
    EXPECT_EQ(blockCellIndex(0, 127, 127), kBlockCells - 1);
    EXPECT_EQ(blockCellIndex(3, 128 * 5, 128 * 9), 3 * kBlockCells);
    EXPECT_EQ(blockCellIndex(3, 128 * 5 + 127, 128 * 9 + 127), 4 * kBlockCells - 1);
    EXPECT_EQ(blockCellIndex(70000, 99999, 99999), 70000 * kBlockCells + 31 * 128 + 31);
}

TEST(CellBlocks, DirectoryFindsEachBlockHeldAndNoOther)
{
    // Repeats and any order given; held north first, west to east.
    const BlockDirectory d({{2, 7}, {0, 0}, {2, 5}, {781, 781}, {2, 5}, {0, 1}});
    const std::vector<BlockId> order = {{781, 781}, {2, 5}, {2, 7}, {0, 0}, {0, 1}};
    ASSERT_EQ(d.blocks(), order);
    EXPECT_EQ(BlockDirectory::entriesFor(order), 782u * 782u);
    const BlockView v = d.view();
    ASSERT_TRUE(v.held());
    for (uint32_t slot = 0; slot < order.size(); ++slot) {
        const BlockId b = order[slot];
        // Every corner of the block, and nothing just beyond it.
        for (const auto &[dr, dc] : {std::pair{0, 0}, {127, 0}, {0, 127}, {127, 127}})
            EXPECT_EQ(v.slotOf(blockStart(b.row) + dr, blockStart(b.col) + dc), slot);
    }
    EXPECT_EQ(v.slotOf(128 * 2, 128 * 6), kNoBlock);  // between two held blocks
    EXPECT_EQ(v.slotOf(128 * 782, 0), kNoBlock);      // north of the rectangle
    EXPECT_EQ(v.slotOf(0, 128 * 782), kNoBlock);      // east of it

    // A rectangle away from the grid's corner: west and south of it wrap
    // around to beyond its end.
    const BlockDirectory farDirectory({{10, 20}, {11, 22}});
    const BlockView far = farDirectory.view();
    EXPECT_EQ(far.rows, 2u);
    EXPECT_EQ(far.cols, 3u);
    EXPECT_EQ(far.slotOf(128 * 11, 128 * 22), 0u);
    EXPECT_EQ(far.slotOf(128 * 10, 128 * 20), 1u);
    EXPECT_EQ(far.slotOf(128 * 10 - 1, 128 * 20), kNoBlock);
    EXPECT_EQ(far.slotOf(128 * 10, 128 * 20 - 1), kNoBlock);
    EXPECT_EQ(far.slotOf(0, 0), kNoBlock);

    EXPECT_FALSE(BlockDirectory().view().held());
    EXPECT_EQ(BlockDirectory::entriesFor({}), 0u);
}

TEST(CellBlocks, RunsOfBlocksSideBySideUnderEachRow)
{
    const BlockDirectory d({{3, 0}, {3, 1}, {3, 2}, {3, 5}, {1, 4}, {1, 6}, {1, 7}});
    BlockRuns runs(d.blocks());
    const auto spans = [&](int32_t row) {
        std::vector<std::pair<size_t, size_t>> out;
        for (const BlockRun &r : runs.under(row))
            out.push_back({r.first, r.end});
        return out;
    };
    using Spans = std::vector<std::pair<size_t, size_t>>;
    EXPECT_EQ(spans(4 * 128 + 5), Spans{});                    // block row 4: none
    EXPECT_EQ(spans(3 * 128 + 127), (Spans{{0, 3}, {3, 4}}));  // columns 0-2, then 5
    EXPECT_EQ(spans(3 * 128), (Spans{{0, 3}, {3, 4}}));
    EXPECT_EQ(spans(2 * 128 + 50), Spans{});
    EXPECT_EQ(spans(1 * 128 + 9), (Spans{{4, 5}, {5, 7}}));  // column 4, then 6-7
    EXPECT_EQ(spans(0), Spans{});
}

TEST(MemoryLimit, ControlGroupFiles)
{
    EXPECT_EQ(parseMemoryLimit("max\n"), kNoMemoryLimit);
    EXPECT_EQ(parseMemoryLimit(""), kNoMemoryLimit);
    EXPECT_EQ(parseMemoryLimit("536870912\n"), 536870912u);
    EXPECT_EQ(parseMemoryLimit("9223372036854771712\n"), 9223372036854771712u);

    const std::string v2 = "0::/user.slice/job-42.scope\n";
    EXPECT_EQ(cgroupPath(v2, false), "/user.slice/job-42.scope");
    EXPECT_EQ(cgroupPath(v2, true), "");
    const std::string v1 = "9:name=systemd:/\n5:cpu,cpuacct:/a\n4:memory:/process_api/2f2c\n0::/\n";
    EXPECT_EQ(cgroupPath(v1, true), "/process_api/2f2c");
    EXPECT_EQ(cgroupPath(v1, false), "/");
    EXPECT_EQ(cgroupPath("7:memory,hugetlb:/batch\n", true), "/batch");
    EXPECT_EQ(cgroupPath("", true), "");
    EXPECT_EQ(cgroupPath("garbage without colons", false), "");
}

TEST(MemoryLimit, TheProcessMayHoldSomethingButNotMoreThanTheMachine)
{
    const uint64_t may = memoryThatMayBeHeld();
    EXPECT_GT(may, 0u);
    EXPECT_NE(may, kNoMemoryLimit);  // the machine's memory at least bounds it
}

}  // namespace
