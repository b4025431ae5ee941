// The portable kernel: record by record, on any processor.
#include "select/kernels.h"

#include "select/record_copy.h"
#include "unaligned.h"

#include <cstring>

using lidar::load_unaligned;

namespace {

// The cell is floor(q) for q = (coordinate - corner) / cellsize. Since the
// raster's and the window's bounds are whole numbers, floor(q) >= b exactly
// when q >= b and floor(q) < e exactly when q < e, and for q >= 0 truncation
// is floor; NaN fails every test. So q itself is tested and truncated.
template <size_t Len>
Selection selectRecordsOf(uint8_t *kept, const uint8_t *records, size_t count, size_t len,
                          const SelectionContext &context, Tally &tally)
{
    // Local copies: the stores of records could otherwise alias them.
    const SelectionContext c = context;
    if constexpr (Len != 0)
        len = Len;
    uint32_t outside = 0, onNodata = 0;
    size_t k = 0;
    for (; k < count; ++k) {
        const uint8_t *rec = records + k * len;
        const double row = (load_unaligned<int32_t>(rec + 4) * c.yScale + c.yOffset - c.miny) / c.cellsize;
        const double col = (load_unaligned<int32_t>(rec) * c.xScale + c.xOffset - c.minx) / c.cellsize;
        // The cells held lie in the grid: one branch serves the common case.
        if (!((row >= c.rowBegin) & (row < c.rowEnd) & (col >= c.colBegin) & (col < c.colEnd))) {
            if ((row >= 0.0) & (row < c.rows) & (col >= 0.0) & (col < c.cols)) [[unlikely]]
                break;
            ++outside;
            continue;
        }
        const float v = c.cells[c.window.indexOf(static_cast<int32_t>(row), static_cast<int32_t>(col))];
        if (v == c.nodata || (c.nodataIsNaN && v != v)) {
            ++onNodata;
            continue;
        }
        const double z = load_unaligned<int32_t>(rec + 8) * c.zScale + c.zOffset;
        const double value = v;
        // Without a branch, as the test goes either way at random: both
        // limits in one vector comparison, the record always copied, and
        // kept only advancing over it when it is selected. (Written as two
        // scalar comparisons, the compiler branches on one of them.)
        using Pair = double __attribute__((vector_size(16)));
        const Pair below = {value + c.low, z}, above = {z, value + c.high};
        const auto within = below <= above;  // z >= value + low, z <= value + high
        const bool selected = (within[0] & within[1]) != 0;
        if constexpr (Len != 0)
            copyRecord<Len>(kept, rec);
        else if (selected)
            std::memmove(kept, rec, len);
        kept += selected ? len : 0;
    }
    tally.outside += outside;
    tally.onNodata += onNodata;
    return {kept, k};
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
