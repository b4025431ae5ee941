// The portable kernel: record by record, on any processor, in runs whose
// cells are found and requested before they are read.
#include "select/kernels.h"

#include "lidar/internal/unaligned.h"
#include "select/record_copy.h"

#include <algorithm>
#include <cstring>

namespace morvane {

using lidar::load_unaligned;

namespace {

// Two doubles side by side, which take each step in one instruction where
// the processor has two-lane vectors: X and Y (or column and row) in the
// order of a record's fields.
using Pair = double __attribute__((vector_size(16)));

// Whether both lanes of a comparison hold.
template <typename Mask>
inline bool both(Mask m)
{
    return (m & __builtin_shufflevector(m, m, 1, 0))[0] != 0;
}

// The cell is floor(q) for q = (coordinate - corner) / cellsize. Since the
// raster's and the window's bounds are whole numbers, floor(q) >= b exactly
// when q >= b and floor(q) < e exactly when q < e, and for q >= 0 truncation
// is floor; NaN fails every test. So q itself is tested and truncated. With
// a power-of-two cell size (Exact), q is the product by the inverse. Where
// the cells are held as blocks (Blocked), a cell whose block is not held
// stops the run as one outside the window does.
//
// The records go in runs of kRun: first each one's cell is found and its
// cache line requested, then the cells are read, so that the raster's
// memory latency overlaps the work on the run.
template <size_t Len, bool Exact, bool Blocked>
Selection selectRecordsOf(uint8_t *kept, const uint8_t *records, size_t count, size_t len,
                          const SelectionContext &context, Tally &tally)
{
    constexpr size_t kRun = 128;
    // Records are requested this far ahead of the one located: read from a
    // mapping of the file, they come in from memory as they are needed.
    constexpr size_t kRecordsAhead = 8;
    // Local copies: the stores of records could otherwise alias them.
    const SelectionContext c = context;
    if constexpr (Len != 0)
        len = Len;
    const Pair scale = {c.xScale, c.yScale}, offset = {c.xOffset, c.yOffset}, corner = {c.minx, c.miny};
    const Pair begin = {c.colBegin, c.rowBegin}, end = {c.colEnd, c.rowEnd};
    const Pair cellsize = {c.cellsize, c.cellsize}, inverse = {c.cellsizeInverse, c.cellsizeInverse};
    const float nodata = c.nodata;
    const bool nodataIsNaN = c.nodataIsNaN;
    uint32_t outside = 0, onNodata = 0;
    // The records of a run that lie in the window held, and their cells.
    uint32_t held[kRun];
    size_t cells[kRun];
    size_t k = 0;
    while (k < count) {
        const uint8_t *run = records + k * len;
        const size_t n = std::min(kRun, count - k);
        size_t located = 0, heldCount = 0;
        for (; located < n; ++located) {
            const uint8_t *rec = run + located * len;
            __builtin_prefetch(rec + kRecordsAhead * len);
            const Pair raw = {static_cast<double>(load_unaligned<int32_t>(rec)),
                              static_cast<double>(load_unaligned<int32_t>(rec + 4))};
            const Pair d = raw * scale + offset - corner;
            Pair q;
            if constexpr (Exact)
                q = d * inverse;
            else
                q = d / cellsize;
            const double col = q[0], row = q[1];
            // The cells held lie in the grid: one branch serves the common case.
            if (!both((q >= begin) & (q < end))) {
                if ((row >= 0.0) & (row < c.rows) & (col >= 0.0) & (col < c.cols)) [[unlikely]]
                    break;
                ++outside;
                continue;
            }
            size_t cell = 0;
            if constexpr (Blocked) {
                const auto cellRow = static_cast<int32_t>(row), cellCol = static_cast<int32_t>(col);
                const uint32_t slot = c.blocks.slotOf(cellRow, cellCol);
                if (slot == kNoBlock) [[unlikely]]
                    break;
                cell = blockCellIndex(slot, cellRow, cellCol);
            } else {
                cell = c.window.indexOf(static_cast<int32_t>(row), static_cast<int32_t>(col));
            }
            __builtin_prefetch(c.cells + cell);
            held[heldCount] = static_cast<uint32_t>(located);
            cells[heldCount] = cell;
            ++heldCount;
        }
        for (size_t i = 0; i < heldCount; ++i) {
            const uint8_t *rec = run + held[i] * len;
            const float v = c.cells[cells[i]];
            if (nodataIsNaN ? v != v : v == nodata) {
                ++onNodata;
                continue;
            }
            const double z = load_unaligned<int32_t>(rec + 8) * c.zScale + c.zOffset;
            const double value = v;
            // Without a branch, as the test goes either way at random: both
            // limits in one vector comparison, the record always copied, and
            // kept only advancing over it when it is selected. (Written as two
            // scalar comparisons, the compiler branches on one of them.)
            const Pair below = {value + c.low, z}, above = {z, value + c.high};
            const bool selected = both(below <= above);  // z >= value + low, z <= value + high
            if constexpr (Len != 0)
                copyRecord<Len>(kept, rec);
            else if (selected)
                std::memmove(kept, rec, len);
            kept += selected ? len : 0;
        }
        k += located;
        if (located < n)
            break;
    }
    tally.outside += outside;
    tally.onNodata += onNodata;
    return {kept, k};
}

template <size_t Len>
Selection selectRecordsOf(uint8_t *kept, const uint8_t *records, size_t count, size_t len, const SelectionContext &c,
                          Tally &tally)
{
    if (c.blocks.held())
        return c.nearBorder < 0.0 ? selectRecordsOf<Len, true, true>(kept, records, count, len, c, tally)
                                  : selectRecordsOf<Len, false, true>(kept, records, count, len, c, tally);
    return c.nearBorder < 0.0 ? selectRecordsOf<Len, true, false>(kept, records, count, len, c, tally)
                              : selectRecordsOf<Len, false, false>(kept, records, count, len, c, tally);
}

}  // namespace

Selection selectRecordsPortable(uint8_t *keep, const uint8_t *records, size_t count, size_t len,
                                const SelectionContext &c, Tally &tally)
{
    // The standard lengths get a copy of a few fixed moves.
    switch (len) {
    case 20: return selectRecordsOf<20>(keep, records, count, len, c, tally);
    case 26: return selectRecordsOf<26>(keep, records, count, len, c, tally);
    case 28: return selectRecordsOf<28>(keep, records, count, len, c, tally);
    case 34: return selectRecordsOf<34>(keep, records, count, len, c, tally);
    default: return selectRecordsOf<0>(keep, records, count, len, c, tally);
    }
}

}  // namespace morvane
