#include "record_selection.h"

#include "record_kernel.h"
#include "unaligned.h"

#include <algorithm>
#include <cmath>

using lidar::load_unaligned;

SelectionContext::SelectionContext(const LAS12Header &h, const Raster &raster, double lowLimit, double highLimit)
    : xScale(h.XScaleFactor), xOffset(h.XOffset), yScale(h.YScaleFactor), yOffset(h.YOffset), zScale(h.ZScaleFactor),
      zOffset(h.ZOffset), minx(raster.grid().minx), miny(raster.grid().miny), cellsize(raster.grid().cellsize),
      rows(raster.grid().rows), cols(raster.grid().cols), cells(raster.cells.get()), rowBegin(raster.window.rowBegin),
      rowEnd(raster.window.rowEnd), colBegin(raster.window.colBegin), colEnd(raster.window.colEnd),
      topRow(raster.window.rowEnd - 1), firstCol(raster.window.colBegin),
      windowCols(static_cast<size_t>(raster.window.cols())),
      // Without a declared value no cell is NODATA: NaN equals nothing.
      nodata(raster.header.hasNodata ? raster.header.nodata : std::nanf("")), nodataIsNaN(raster.nodataIsNaN()),
      low(lowLimit), high(highLimit), cellsizeInverse(1.0 / cellsize), nearBorder(0.0)
{
    int exponent = 0;
    if (!std::isnormal(cellsize) || !std::isnormal(cellsizeInverse)) {
        cellsizeInverse = 0.0;
    } else if (std::frexp(cellsize, &exponent) == 0.5) {
        // Multiplying by a power of two is exact, as is dividing by one:
        // both round the same real number.
        nearBorder = -1.0;
    } else {
        // The product and the quotient differ by under 3 units in the last
        // place, so by less than (n + 2) * 2^-51 for quotients up to n + 1 in
        // magnitude; beyond that both are outside the grid. Eight times that
        // leaves a margin.
        nearBorder = (std::max(rows, cols) + 2.0) * 0x1p-48;
    }
}

namespace {

// The cell is floor(q) for q = (coordinate - corner) / cellsize. Since the
// raster's and the window's bounds are whole numbers, floor(q) >= b exactly
// when q >= b and floor(q) < e exactly when q < e, and for q >= 0 truncation
// is floor; NaN fails every test. So q itself is tested and truncated.
template <size_t Len>
Selection classify(uint8_t *kept, const uint8_t *records, size_t count, size_t len, const SelectionContext &context,
                   Tally &tally)
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
        const size_t cell = static_cast<size_t>(c.topRow - static_cast<int32_t>(row)) * c.windowCols +
                            static_cast<size_t>(static_cast<int32_t>(col) - c.firstCol);
        const float v = c.cells[cell];
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
            record_kernel::copyRecord<Len>(kept, rec);
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
    case 20: return classify<20>(keep, records, count, len, c, tally);
    case 26: return classify<26>(keep, records, count, len, c, tally);
    case 28: return classify<28>(keep, records, count, len, c, tally);
    case 34: return classify<34>(keep, records, count, len, c, tally);
    default: return classify<0>(keep, records, count, len, c, tally);
    }
}

Selection selectRecords(uint8_t *keep, const uint8_t *records, size_t count, size_t len, const SelectionContext &c,
                        Tally &tally)
{
    static const bool vector = vectorKernelAvailable();
    return vector ? selectRecordsVector(keep, records, count, len, c, tally)
                  : selectRecordsPortable(keep, records, count, len, c, tally);
}
