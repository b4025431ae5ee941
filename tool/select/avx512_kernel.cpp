// The vector kernel: eight records at a time with AVX-512, compiled for
// that instruction set function by function so that the rest of the
// program runs on any x86-64 processor.
//
// It gives the portable kernel's result bit for bit: the same double
// operations in the same order (fused multiply-add is off for the whole
// build), the same ordered comparisons, and a cell index that is the
// quotient's own wherever multiplying by the inverse could floor otherwise.
#include "select/kernels.h"

#include "select/vector_groups.h"

// GCC 12's AVX-512 header makes its "undefined" vectors by initialising
// them from themselves, which -Wuninitialized or -Wmaybe-uninitialized
// reports at every use; without optimisation some of its intrinsics are
// macros that pass a mask through char, which -Wsign-conversion reports
// where they are used.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wsign-conversion"
#endif
#include <immintrin.h>

namespace morvane {

#define MORVANE_AVX512 __attribute__((target("avx512f,avx512vl,avx512dq")))

bool avx512KernelAvailable()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
           __builtin_cpu_supports("avx512dq");
}

namespace {

constexpr int kNearest = _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC;
constexpr int kSmallerMagnitude = 0x0A;  // vrangepd: the one nearer zero, made positive

// The context's numbers, one copy per lane.
struct Lanes {
    __m512d xScale, xOffset, yScale, yOffset, zScale, zOffset;
    __m512d minx, miny, cellsize, inverse, nearBorder, low, high;
    __m512d rows, cols, rowBegin, rowEnd, colBegin, colEnd;
    __m512i windowCols;
    __m512i corner;  // the index of row 0, column 0 of the grid (whether held or not)
    __m256 nodata;
    bool nodataIsNaN;    // every NaN cell is NODATA
    bool exact;          // the product by the inverse is the quotient
    bool wholeGrid;      // the cells held are the grid's
    const float *cells;  // never empty: lanes outside the window read the first
};

// Stands in for the cells of an empty window.
constexpr float kNoCells[1] = {0.0f};

MORVANE_AVX512 Lanes lanesOf(const SelectionContext &c)
{
    const auto windowCols = static_cast<long long>(c.windowCols);
    const bool empty = !(c.rowBegin < c.rowEnd && c.colBegin < c.colEnd);
    return Lanes{_mm512_set1_pd(c.xScale),
                 _mm512_set1_pd(c.xOffset),
                 _mm512_set1_pd(c.yScale),
                 _mm512_set1_pd(c.yOffset),
                 _mm512_set1_pd(c.zScale),
                 _mm512_set1_pd(c.zOffset),
                 _mm512_set1_pd(c.minx),
                 _mm512_set1_pd(c.miny),
                 _mm512_set1_pd(c.cellsize),
                 _mm512_set1_pd(c.cellsizeInverse),
                 _mm512_set1_pd(c.nearBorder),
                 _mm512_set1_pd(c.low),
                 _mm512_set1_pd(c.high),
                 _mm512_set1_pd(c.rows),
                 _mm512_set1_pd(c.cols),
                 _mm512_set1_pd(c.rowBegin),
                 _mm512_set1_pd(c.rowEnd),
                 _mm512_set1_pd(c.colBegin),
                 _mm512_set1_pd(c.colEnd),
                 _mm512_set1_epi64(windowCols),
                 _mm512_set1_epi64(c.topRow * windowCols - c.firstCol),
                 _mm256_set1_ps(c.nodata),
                 c.nodataIsNaN,
                 c.nearBorder < 0.0,
                 c.rowBegin == 0.0 && c.rowEnd == c.rows && c.colBegin == 0.0 && c.colEnd == c.cols,
                 empty ? kNoCells : c.cells};
}

// Where eight records fall: which of them are inside the grid and which of
// those lie in the window held; and their raw Z. The index of each one's
// cell among the cells held goes to an array of its own (0 for the records
// outside the window).
struct Cells {
    __m256i z;
    __mmask8 inside, held;
};

// The first 16 bytes of four records (X, Y, Z and four bytes more), one
// record to each 128-bit lane: a record holds at least 20 bytes, so no load
// reaches past the last one.
template <size_t Len>
MORVANE_AVX512 __attribute__((always_inline)) inline __m512i fourHeads(const uint8_t *rec)
{
    const auto head = [rec](size_t i) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(rec + i * Len)); };
    __m512i v = _mm512_zextsi128_si512(head(0));
    v = _mm512_inserti32x4(v, head(1), 1);
    v = _mm512_inserti32x4(v, head(2), 2);
    return _mm512_inserti32x4(v, head(3), 3);
}

template <size_t Len>
MORVANE_AVX512 __attribute__((always_inline)) inline Cells locate(const Lanes &v, const uint8_t *rec, long long *index)
{
    // Dword 4i + j of the pair (first, last) is field j of record i.
    const __m512i first = fourHeads<Len>(rec), last = fourHeads<Len>(rec + 4 * Len);
    const __m512i xy = _mm512_permutex2var_epi32(
        first, _mm512_setr_epi32(0, 4, 8, 12, 16, 20, 24, 28, 1, 5, 9, 13, 17, 21, 25, 29), last);
    const __m256i z = _mm512_castsi512_si256(_mm512_permutex2var_epi32(
        first, _mm512_setr_epi32(2, 6, 10, 14, 18, 22, 26, 30, 2, 6, 10, 14, 18, 22, 26, 30), last));
    const __m256i x = _mm512_castsi512_si256(xy), y = _mm512_extracti32x8_epi32(xy, 1);
    const __m512d dy = _mm512_sub_pd(_mm512_add_pd(_mm512_mul_pd(_mm512_cvtepi32_pd(y), v.yScale), v.yOffset), v.miny);
    const __m512d dx = _mm512_sub_pd(_mm512_add_pd(_mm512_mul_pd(_mm512_cvtepi32_pd(x), v.xScale), v.xOffset), v.minx);
    __m512d row = _mm512_mul_pd(dy, v.inverse), col = _mm512_mul_pd(dx, v.inverse);
    if (!v.exact) {
        // How far the nearer of the two lies from a whole number.
        const __m512d apart = _mm512_range_pd(_mm512_reduce_pd(row, kNearest), _mm512_reduce_pd(col, kNearest),
                                              kSmallerMagnitude);
        if (_mm512_cmp_pd_mask(apart, v.nearBorder, _CMP_LT_OQ) != 0) [[unlikely]] {
            row = _mm512_div_pd(dy, v.cellsize);
            col = _mm512_div_pd(dx, v.cellsize);
        }
    }
    // The window lies in the grid, so a record in the window is inside it.
    __mmask8 held = _mm512_cmp_pd_mask(row, v.rowBegin, _CMP_GE_OQ);
    held = _mm512_mask_cmp_pd_mask(held, row, v.rowEnd, _CMP_LT_OQ);
    held = _mm512_mask_cmp_pd_mask(held, col, v.colBegin, _CMP_GE_OQ);
    held = _mm512_mask_cmp_pd_mask(held, col, v.colEnd, _CMP_LT_OQ);
    __mmask8 inside = held;
    if (!v.wholeGrid) {
        const __m512d zero = _mm512_setzero_pd();
        inside = _mm512_cmp_pd_mask(row, zero, _CMP_GE_OQ);
        inside = _mm512_mask_cmp_pd_mask(inside, row, v.rows, _CMP_LT_OQ);
        inside = _mm512_mask_cmp_pd_mask(inside, col, zero, _CMP_GE_OQ);
        inside = _mm512_mask_cmp_pd_mask(inside, col, v.cols, _CMP_LT_OQ);
    }
    // In the window both are 0 or more, where truncation is the floor: the
    // cell is corner - row * windowCols + col, the row below 2^31.
    const __m512i rowIndex = _mm512_cvttpd_epi64(row), colIndex = _mm512_cvttpd_epi64(col);
    _mm512_store_si512(index, _mm512_maskz_sub_epi64(held, _mm512_add_epi64(v.corner, colIndex),
                                                     _mm512_mul_epu32(rowIndex, v.windowCols)));
    return Cells{z, inside, held};
}

// Asks for the cache lines of eight cells ahead of their use. A prefetch
// never faults. (Inlined by force: GCC finds a function of prefetches alone
// free of side effects and drops the call.)
MORVANE_AVX512 __attribute__((always_inline)) inline void prefetch(const Lanes &v, const long long *index)
{
    const auto base = reinterpret_cast<uintptr_t>(v.cells);
#pragma GCC unroll 8
    for (size_t i = 0; i < 8; ++i)
        _mm_prefetch(reinterpret_cast<const char *>(base + static_cast<uintptr_t>(index[i]) * sizeof(float)),
                     _MM_HINT_T0);
}

// Eight cells read one by one, their cache lines already requested: on the
// processors measured that is faster than a gather.
MORVANE_AVX512 __attribute__((always_inline)) inline __m256 cellValues(const Lanes &v, const long long *index)
{
    const float *cells = v.cells;
    return _mm256_setr_ps(cells[index[0]], cells[index[1]], cells[index[2]], cells[index[3]], cells[index[4]],
                          cells[index[5]], cells[index[6]], cells[index[7]]);
}

// The groups are pipelined: the cells of a group are found, and their
// cache lines requested, kAhead groups before their values are read, so
// that the raster's memory latency overlaps the work on the groups between.
// A group with a record in the grid but outside the cells held goes to the
// portable kernel, which stops at that record.
template <size_t Len>
MORVANE_AVX512 Selection selectEights(uint8_t *kept, const uint8_t *records, size_t count, const SelectionContext &c,
                                      Tally &tally)
{
    constexpr size_t kAhead = 16;
    const Lanes v = lanesOf(c);
    uint32_t outside = 0, onNodata = 0;
    const size_t groups = count / 8;
    Cells ahead[kAhead];
    alignas(64) long long index[kAhead][8];
    for (size_t g = 0; g < kAhead && g < groups; ++g) {
        ahead[g] = locate<Len>(v, records + g * 8 * Len, index[g]);
        prefetch(v, index[g]);
    }
    size_t g = 0;
    for (; g < groups; ++g) {
        const size_t slot = g % kAhead;
        const Cells cells = ahead[slot];
        if (cells.held != cells.inside) [[unlikely]]
            break;
        const uint8_t *rec = records + g * 8 * Len;
        const __m256 value = cellValues(v, index[slot]);
        if (g + kAhead < groups) {
            ahead[slot] = locate<Len>(v, rec + kAhead * 8 * Len, index[slot]);
            prefetch(v, index[slot]);
        }
        const __mmask8 nodataCell = v.nodataIsNaN ? _mm256_mask_cmp_ps_mask(cells.held, value, value, _CMP_UNORD_Q)
                                                  : _mm256_mask_cmp_ps_mask(cells.held, value, v.nodata, _CMP_EQ_OQ);
        const __m512d z = _mm512_add_pd(_mm512_mul_pd(_mm512_cvtepi32_pd(cells.z), v.zScale), v.zOffset);
        const __m512d surface = _mm512_cvtps_pd(value);
        __mmask8 selected = _mm512_mask_cmp_pd_mask(cells.held & ~nodataCell, _mm512_add_pd(surface, v.low), z,
                                                    _CMP_LE_OQ);
        selected = _mm512_mask_cmp_pd_mask(selected, z, _mm512_add_pd(surface, v.high), _CMP_LE_OQ);

        outside += 8 - static_cast<uint32_t>(__builtin_popcount(cells.inside));
        onNodata += static_cast<uint32_t>(__builtin_popcount(nodataCell));
        kept = keepSelected<Len, 8>(kept, rec, selected);
    }
    return finishGroups<Len>(kept, records, g * 8, count, c, tally, outside, onNodata);
}

}  // namespace

Selection selectRecordsAvx512(uint8_t *keep, const uint8_t *records, size_t count, size_t len,
                              const SelectionContext &c, Tally &tally)
{
    return selectInGroups({selectEights<20>, selectEights<26>, selectEights<28>, selectEights<34>}, keep, records,
                          count, len, c, tally);
}

}  // namespace morvane
