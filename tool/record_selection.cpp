#include "record_selection.h"

#include "raster.h"

#include <cmath>

using record_selection::copyRecord;
using record_selection::load32;

Classifier::Classifier(const LAS12Header &h, double lowLimit, double highLimit)
    : xScale(h.XScaleFactor), xOffset(h.XOffset), yScale(h.YScaleFactor), yOffset(h.YOffset),
      zScale(h.ZScaleFactor), zOffset(h.ZOffset), minx(_minx), miny(_miny), cellsize(_cellsize),
      rows(_nRows), cols(_nCols), nodata(_NODATAval), low(lowLimit), high(highLimit),
      cellsizeInverse(1.0 / cellsize), nearBorder(0.0)
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
// raster's bounds are whole numbers, floor(q) >= 0 exactly when q >= 0 and
// floor(q) < n exactly when q < n, and for q >= 0 truncation is floor; NaN
// fails every test. So q itself is tested and truncated.
template <size_t Len>
uint8_t *selectRecords(uint8_t *kept, const uint8_t *records, size_t count, size_t len,
                       const Classifier &classifier, Tally &tally)
{
    // Local copies: the stores of records could otherwise alias them.
    const Classifier c = classifier;
    const float *const *const raster = _raster;
    if constexpr (Len != 0)
        len = Len;
    uint32_t out = 0, onNodata = 0;
    for (size_t k = 0; k < count; ++k) {
        const uint8_t *rec = records + k * len;
        const double row = (load32(rec + 4) * c.yScale + c.yOffset - c.miny) / c.cellsize;
        const double col = (load32(rec) * c.xScale + c.xOffset - c.minx) / c.cellsize;
        if (!(row >= 0.0 && row < c.rows && col >= 0.0 && col < c.cols)) {
            ++out;
            continue;
        }
        const float v = raster[static_cast<int32_t>(row)][static_cast<int32_t>(col)];
        if (v == c.nodata) {
            ++onNodata;
            continue;
        }
        const double z = load32(rec + 8) * c.zScale + c.zOffset;
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
    tally.out += out;
    tally.onNodata += onNodata;
    return kept;
}

}  // namespace

uint8_t *record_selection::selectPortable(uint8_t *kept, const uint8_t *records, size_t count, size_t len,
                                          const Classifier &c, Tally &tally)
{
    // The standard lengths get a copy of a few fixed moves.
    switch (len) {
    case 20: return selectRecords<20>(kept, records, count, len, c, tally);
    case 26: return selectRecords<26>(kept, records, count, len, c, tally);
    case 28: return selectRecords<28>(kept, records, count, len, c, tally);
    case 34: return selectRecords<34>(kept, records, count, len, c, tally);
    default: return selectRecords<0>(kept, records, count, len, c, tally);
    }
}

size_t selectBlockPortable(uint8_t *records, size_t count, size_t len, const Classifier &c, Tally &tally)
{
    const uint8_t *end = record_selection::selectPortable(records, records, count, len, c, tally);
    return static_cast<size_t>(end - records) / len;
}

size_t selectBlock(uint8_t *records, size_t count, size_t len, const Classifier &c, Tally &tally)
{
    // The vector kernel itself hands other record lengths to the portable one.
    static const bool vector = vectorKernelAvailable();
    return vector ? selectBlockVector(records, count, len, c, tally)
                  : selectBlockPortable(records, count, len, c, tally);
}
