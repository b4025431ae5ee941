// The AVX2 kernel: four records at a time, for x86-64 processors without
// AVX-512, compiled for that instruction set function by function.
//
// It gives the portable kernel's result bit for bit, as the AVX-512 one
// does: the same double operations in the same order (no fused
// multiply-add), the same ordered comparisons, and the quotient's own cell
// wherever the product by the inverse lies near a whole number.
#include "select/kernels.h"

#include "select/vector_groups.h"

#include <immintrin.h>

namespace morvane {

#define MORVANE_AVX2 __attribute__((target("avx2")))

bool avx2KernelAvailable()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

namespace {

constexpr int kNearest = _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC;

// The context's numbers, one copy per lane.
struct Lanes {
    __m256d xScale, xOffset, yScale, yOffset, zScale, zOffset;
    __m256d minx, miny, cellsize, inverse, nearBorder, low, high;
    __m256d rows, cols, rowBegin, rowEnd, colBegin, colEnd;
    __m256i windowCols;
    __m256i corner;  // the index of row 0, column 0 of the grid (whether held or not)
    __m128 nodata;
    bool nodataIsNaN;    // every NaN cell is NODATA
    bool exact;          // the product by the inverse is the quotient
    bool wholeGrid;      // the cells held are the grid's
    const float *cells;  // never empty: lanes outside the window read the first
};

// Stands in for the cells of an empty window.
constexpr float kNoCells[1] = {0.0f};

MORVANE_AVX2 Lanes lanesOf(const SelectionContext &c)
{
    const auto windowCols = static_cast<long long>(c.windowCols);
    const bool empty = !(c.rowBegin < c.rowEnd && c.colBegin < c.colEnd);
    return Lanes{_mm256_set1_pd(c.xScale),
                 _mm256_set1_pd(c.xOffset),
                 _mm256_set1_pd(c.yScale),
                 _mm256_set1_pd(c.yOffset),
                 _mm256_set1_pd(c.zScale),
                 _mm256_set1_pd(c.zOffset),
                 _mm256_set1_pd(c.minx),
                 _mm256_set1_pd(c.miny),
                 _mm256_set1_pd(c.cellsize),
                 _mm256_set1_pd(c.cellsizeInverse),
                 _mm256_set1_pd(c.nearBorder),
                 _mm256_set1_pd(c.low),
                 _mm256_set1_pd(c.high),
                 _mm256_set1_pd(c.rows),
                 _mm256_set1_pd(c.cols),
                 _mm256_set1_pd(c.rowBegin),
                 _mm256_set1_pd(c.rowEnd),
                 _mm256_set1_pd(c.colBegin),
                 _mm256_set1_pd(c.colEnd),
                 _mm256_set1_epi64x(windowCols),
                 _mm256_set1_epi64x(c.topRow * windowCols - c.firstCol),
                 _mm_set1_ps(c.nodata),
                 c.nodataIsNaN,
                 c.nearBorder < 0.0,
                 c.rowBegin == 0.0 && c.rowEnd == c.rows && c.colBegin == 0.0 && c.colEnd == c.cols,
                 empty ? kNoCells : c.cells};
}

// Where four records fall, a bit each: inside the grid, and in the window
// held; and their raw Z. The index of each one's cell among the cells held
// goes to an array of its own (0 for the records outside the window).
struct Cells {
    __m128i z;
    unsigned inside, held;
};

// The distance of each lane from the nearest whole number.
MORVANE_AVX2 inline __m256d fromWhole(__m256d q)
{
    return _mm256_andnot_pd(_mm256_set1_pd(-0.0), _mm256_sub_pd(q, _mm256_round_pd(q, kNearest)));
}

template <size_t Len>
MORVANE_AVX2 __attribute__((always_inline)) inline Cells locate(const Lanes &v, const uint8_t *rec, long long *index)
{
    // The first 16 bytes of each record (X, Y, Z and four more; a record
    // holds at least 20), transposed to a field a register.
    const __m128i r0 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(rec));
    const __m128i r1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(rec + Len));
    const __m128i r2 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(rec + 2 * Len));
    const __m128i r3 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(rec + 3 * Len));
    const __m128i xy01 = _mm_unpacklo_epi32(r0, r1), xy23 = _mm_unpacklo_epi32(r2, r3);
    const __m128i z01 = _mm_unpackhi_epi32(r0, r1), z23 = _mm_unpackhi_epi32(r2, r3);
    const __m128i x = _mm_unpacklo_epi64(xy01, xy23), y = _mm_unpackhi_epi64(xy01, xy23);
    const __m128i z = _mm_unpacklo_epi64(z01, z23);
    const __m256d dy = _mm256_sub_pd(_mm256_add_pd(_mm256_mul_pd(_mm256_cvtepi32_pd(y), v.yScale), v.yOffset), v.miny);
    const __m256d dx = _mm256_sub_pd(_mm256_add_pd(_mm256_mul_pd(_mm256_cvtepi32_pd(x), v.xScale), v.xOffset), v.minx);
    __m256d row = _mm256_mul_pd(dy, v.inverse), col = _mm256_mul_pd(dx, v.inverse);
    if (!v.exact) {
        const __m256d near = _mm256_or_pd(_mm256_cmp_pd(fromWhole(row), v.nearBorder, _CMP_LT_OQ),
                                          _mm256_cmp_pd(fromWhole(col), v.nearBorder, _CMP_LT_OQ));
        if (_mm256_movemask_pd(near) != 0) [[unlikely]] {
            row = _mm256_div_pd(dy, v.cellsize);
            col = _mm256_div_pd(dx, v.cellsize);
        }
    }
    // The window lies in the grid, so a record in the window is inside it.
    const __m256d held = _mm256_and_pd(
        _mm256_and_pd(_mm256_cmp_pd(row, v.rowBegin, _CMP_GE_OQ), _mm256_cmp_pd(row, v.rowEnd, _CMP_LT_OQ)),
        _mm256_and_pd(_mm256_cmp_pd(col, v.colBegin, _CMP_GE_OQ), _mm256_cmp_pd(col, v.colEnd, _CMP_LT_OQ)));
    const auto heldBits = static_cast<unsigned>(_mm256_movemask_pd(held));
    unsigned insideBits = heldBits;
    if (!v.wholeGrid) {
        const __m256d zero = _mm256_setzero_pd();
        const __m256d inside = _mm256_and_pd(
            _mm256_and_pd(_mm256_cmp_pd(row, zero, _CMP_GE_OQ), _mm256_cmp_pd(row, v.rows, _CMP_LT_OQ)),
            _mm256_and_pd(_mm256_cmp_pd(col, zero, _CMP_GE_OQ), _mm256_cmp_pd(col, v.cols, _CMP_LT_OQ)));
        insideBits = static_cast<unsigned>(_mm256_movemask_pd(inside));
    }
    // In the window both are 0 or more, where truncation is the floor: the
    // cell is corner - row * windowCols + col, the row below 2^31.
    const __m256i rowIndex = _mm256_cvtepi32_epi64(_mm256_cvttpd_epi32(row));
    const __m256i colIndex = _mm256_cvtepi32_epi64(_mm256_cvttpd_epi32(col));
    const __m256i cell = _mm256_sub_epi64(_mm256_add_epi64(v.corner, colIndex),
                                          _mm256_mul_epu32(rowIndex, v.windowCols));
    _mm256_store_si256(reinterpret_cast<__m256i *>(index), _mm256_and_si256(_mm256_castpd_si256(held), cell));
    return Cells{z, insideBits, heldBits};
}

// Asks for the cache lines of four cells ahead of their use. (Inlined by
// force: GCC finds a function of prefetches alone free of side effects and
// drops the call.)
MORVANE_AVX2 __attribute__((always_inline)) inline void prefetch(const Lanes &v, const long long *index)
{
    const auto base = reinterpret_cast<uintptr_t>(v.cells);
#pragma GCC unroll 4
    for (size_t i = 0; i < 4; ++i)
        _mm_prefetch(reinterpret_cast<const char *>(base + static_cast<uintptr_t>(index[i]) * sizeof(float)),
                     _MM_HINT_T0);
}

MORVANE_AVX2 __attribute__((always_inline)) inline __m128 cellValues(const Lanes &v, const long long *index)
{
    const float *cells = v.cells;
    return _mm_setr_ps(cells[index[0]], cells[index[1]], cells[index[2]], cells[index[3]]);
}

// The groups are pipelined as in the AVX-512 kernel: the cells of a group
// are found, and their cache lines requested, kAhead groups before their
// values are read. A group with a record in the grid but outside the cells
// held goes to the portable kernel, which stops at that record.
template <size_t Len>
MORVANE_AVX2 Selection selectFours(uint8_t *kept, const uint8_t *records, size_t count, const SelectionContext &c,
                                   Tally &tally)
{
    constexpr size_t kAhead = 16;
    const Lanes v = lanesOf(c);
    uint32_t outside = 0, onNodata = 0;
    const size_t groups = count / 4;
    Cells ahead[kAhead];
    alignas(32) long long index[kAhead][4];
    for (size_t g = 0; g < kAhead && g < groups; ++g) {
        ahead[g] = locate<Len>(v, records + g * 4 * Len, index[g]);
        prefetch(v, index[g]);
    }
    size_t g = 0;
    for (; g < groups; ++g) {
        const size_t slot = g % kAhead;
        const Cells cells = ahead[slot];
        if (cells.held != cells.inside) [[unlikely]]
            break;
        const uint8_t *rec = records + g * 4 * Len;
        const __m128 value = cellValues(v, index[slot]);
        if (g + kAhead < groups) {
            ahead[slot] = locate<Len>(v, rec + kAhead * 4 * Len, index[slot]);
            prefetch(v, index[slot]);
        }
        const __m128 nodata = v.nodataIsNaN ? _mm_cmp_ps(value, value, _CMP_UNORD_Q)
                                            : _mm_cmp_ps(value, v.nodata, _CMP_EQ_OQ);
        const unsigned nodataBits = static_cast<unsigned>(_mm_movemask_ps(nodata)) & cells.held;
        const __m256d z = _mm256_add_pd(_mm256_mul_pd(_mm256_cvtepi32_pd(cells.z), v.zScale), v.zOffset);
        const __m256d surface = _mm256_cvtps_pd(value);
        const __m256d within = _mm256_and_pd(_mm256_cmp_pd(_mm256_add_pd(surface, v.low), z, _CMP_LE_OQ),
                                             _mm256_cmp_pd(z, _mm256_add_pd(surface, v.high), _CMP_LE_OQ));
        const unsigned selected = static_cast<unsigned>(_mm256_movemask_pd(within)) & cells.held & ~nodataBits;

        outside += 4 - static_cast<uint32_t>(__builtin_popcount(cells.inside));
        onNodata += static_cast<uint32_t>(__builtin_popcount(nodataBits));
        kept = keepSelected<Len, 4>(kept, rec, selected);
    }
    return finishGroups<Len>(kept, records, g * 4, count, c, tally, outside, onNodata);
}

}  // namespace

Selection selectRecordsAvx2(uint8_t *keep, const uint8_t *records, size_t count, size_t len, const SelectionContext &c,
                            Tally &tally)
{
    return selectInGroups({selectFours<20>, selectFours<26>, selectFours<28>, selectFours<34>}, keep, records, count,
                          len, c, tally);
}

}  // namespace morvane
