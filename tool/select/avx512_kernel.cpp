// The vector kernel: eight records at a time with AVX-512, compiled for
// that instruction set function by function so that the rest of the
// program runs on any x86-64 processor.
//
// It gives the portable kernel's result bit for bit: the same double
// operations in the same order (fused multiply-add is off for the whole
// build), the same ordered comparisons, and a cell index that is the
// quotient's own wherever multiplying by the inverse could floor otherwise.
#include "select/kernels.h"

#include "select/record_copy.h"

// GCC 12's AVX-512 header makes its "undefined" vectors by initialising
// them from themselves, which -Wmaybe-uninitialized reports at every use;
// without optimisation its gathers are macros that pass an all-ones mask
// through char, which -Wsign-conversion reports where they are used.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wsign-conversion"
#endif
#include <immintrin.h>

#define MORVANE_AVX512 __attribute__((target("avx512f,avx512vl,avx512dq")))

bool vectorKernelAvailable()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
           __builtin_cpu_supports("avx512dq");
}

namespace {

constexpr int kFloor = _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC;

// The context's numbers, one copy per lane.
struct Lanes {
    __m512d xScale, xOffset, yScale, yOffset, zScale, zOffset;
    __m512d minx, miny, cellsize, inverse, rows, cols, nearLow, nearHigh, low, high;
    __m512d rowBegin, rowEnd, colBegin, colEnd, topRow, firstCol, windowCols;
    __m256 nodata;
    __mmask8 nodataIsNaN;  // all lanes when every NaN cell is NODATA
    __m256i offsets;       // of eight consecutive records
    const float *cells;
};

template <size_t Len>
MORVANE_AVX512 Lanes lanesOf(const SelectionContext &c)
{
    constexpr int L = static_cast<int>(Len);
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
                 _mm512_set1_pd(c.rows),
                 _mm512_set1_pd(c.cols),
                 _mm512_set1_pd(c.nearBorder),
                 _mm512_set1_pd(1.0 - c.nearBorder),
                 _mm512_set1_pd(c.low),
                 _mm512_set1_pd(c.high),
                 _mm512_set1_pd(c.rowBegin),
                 _mm512_set1_pd(c.rowEnd),
                 _mm512_set1_pd(c.colBegin),
                 _mm512_set1_pd(c.colEnd),
                 _mm512_set1_pd(c.topRow),
                 _mm512_set1_pd(c.firstCol),
                 _mm512_set1_pd(static_cast<double>(c.windowCols)),
                 _mm256_set1_ps(c.nodata),
                 static_cast<__mmask8>(c.nodataIsNaN ? 0xFF : 0),
                 _mm256_setr_epi32(0, L, 2 * L, 3 * L, 4 * L, 5 * L, 6 * L, 7 * L),
                 c.cells};
}

// Where eight records fall: the index of each one's cell among the cells
// held, which of them are inside the grid, and which of those lie in the
// window held (only those have an index).
struct Cells {
    __m512i index;
    __mmask8 inside, held;
};

template <size_t Len>
MORVANE_AVX512 inline Cells locate(const Lanes &v, const uint8_t *rec)
{
    const __m256i x = _mm256_i32gather_epi32(reinterpret_cast<const int *>(rec), v.offsets, 1);
    const __m256i y = _mm256_i32gather_epi32(reinterpret_cast<const int *>(rec + 4), v.offsets, 1);
    const __m512d dy = _mm512_sub_pd(_mm512_add_pd(_mm512_mul_pd(_mm512_cvtepi32_pd(y), v.yScale), v.yOffset), v.miny);
    const __m512d dx = _mm512_sub_pd(_mm512_add_pd(_mm512_mul_pd(_mm512_cvtepi32_pd(x), v.xScale), v.xOffset), v.minx);
    __m512d row = _mm512_mul_pd(dy, v.inverse), col = _mm512_mul_pd(dx, v.inverse);
    const __m512d rowFraction = _mm512_sub_pd(row, _mm512_roundscale_pd(row, kFloor));
    const __m512d colFraction = _mm512_sub_pd(col, _mm512_roundscale_pd(col, kFloor));
    const __mmask8 near = _mm512_cmp_pd_mask(rowFraction, v.nearLow, _CMP_LT_OQ) |
                          _mm512_cmp_pd_mask(rowFraction, v.nearHigh, _CMP_GT_OQ) |
                          _mm512_cmp_pd_mask(colFraction, v.nearLow, _CMP_LT_OQ) |
                          _mm512_cmp_pd_mask(colFraction, v.nearHigh, _CMP_GT_OQ);
    if (near != 0) [[unlikely]] {
        row = _mm512_div_pd(dy, v.cellsize);
        col = _mm512_div_pd(dx, v.cellsize);
    }
    const __m512d zero = _mm512_setzero_pd();
    const __mmask8 inside = _mm512_cmp_pd_mask(row, zero, _CMP_GE_OQ) & _mm512_cmp_pd_mask(row, v.rows, _CMP_LT_OQ) &
                            _mm512_cmp_pd_mask(col, zero, _CMP_GE_OQ) & _mm512_cmp_pd_mask(col, v.cols, _CMP_LT_OQ);
    const __mmask8 held = inside & _mm512_cmp_pd_mask(row, v.rowBegin, _CMP_GE_OQ) &
                          _mm512_cmp_pd_mask(row, v.rowEnd, _CMP_LT_OQ) &
                          _mm512_cmp_pd_mask(col, v.colBegin, _CMP_GE_OQ) &
                          _mm512_cmp_pd_mask(col, v.colEnd, _CMP_LT_OQ);
    // (topRow - row) * windowCols + (col - firstCol) on the floored values:
    // whole numbers far below 2^53, so exact in double.
    const __m512d rowFloor = _mm512_roundscale_pd(row, kFloor), colFloor = _mm512_roundscale_pd(col, kFloor);
    const __m512d cell = _mm512_add_pd(_mm512_mul_pd(_mm512_sub_pd(v.topRow, rowFloor), v.windowCols),
                                       _mm512_sub_pd(colFloor, v.firstCol));
    return Cells{_mm512_maskz_cvttpd_epi64(held, cell), inside, held};
}

// Asks for the cells' cache lines ahead of their use. Lanes outside the
// cells held ask for the first cell (index 0): no branch on which they are,
// and a prefetch never faults.
MORVANE_AVX512 inline void prefetch(const Lanes &v, const Cells &cells)
{
    alignas(64) long long index[8];
    _mm512_store_si512(index, cells.index);
    const auto base = reinterpret_cast<uintptr_t>(v.cells);
    for (const long long i : index)
        _mm_prefetch(reinterpret_cast<const char *>(base + static_cast<uintptr_t>(i) * sizeof(float)), _MM_HINT_T0);
}

// The groups are pipelined: the cells of the next eight records are found,
// and their cache lines requested, before the values of this eight's are
// read, so that the raster's memory latency overlaps a group's work. A group
// with a record in the grid but outside the cells held goes to the portable
// kernel, which stops at that record.
template <size_t Len>
MORVANE_AVX512 Selection selectEights(uint8_t *kept, const uint8_t *records, size_t count, const SelectionContext &c,
                                      Tally &tally)
{
    const Lanes v = lanesOf<Len>(c);
    uint32_t outside = 0, onNodata = 0;
    size_t k = 0;
    Cells cells{};
    if (count >= 8)
        cells = locate<Len>(v, records);
    for (; k + 8 <= count; k += 8) {
        if (cells.held != cells.inside) [[unlikely]]
            break;
        const uint8_t *rec = records + k * Len;
        Cells next = cells;
        if (k + 16 <= count) {
            next = locate<Len>(v, rec + 8 * Len);
            prefetch(v, next);
        }
        const __m256 value = _mm512_mask_i64gather_ps(_mm256_setzero_ps(), cells.held, cells.index, v.cells, 4);
        const __mmask8 nodataCell = (_mm256_cmp_ps_mask(value, v.nodata, _CMP_EQ_OQ) |
                                     (_mm256_cmp_ps_mask(value, value, _CMP_UNORD_Q) & v.nodataIsNaN)) &
                                    cells.held;
        const __m256i zRaw = _mm256_i32gather_epi32(reinterpret_cast<const int *>(rec + 8), v.offsets, 1);
        const __m512d z = _mm512_add_pd(_mm512_mul_pd(_mm512_cvtepi32_pd(zRaw), v.zScale), v.zOffset);
        const __m512d surface = _mm512_cvtps_pd(value);
        const __mmask8 within = _mm512_cmp_pd_mask(_mm512_add_pd(surface, v.low), z, _CMP_LE_OQ) &
                                _mm512_cmp_pd_mask(z, _mm512_add_pd(surface, v.high), _CMP_LE_OQ);
        const unsigned selected = within & cells.held & ~nodataCell & 0xFFu;

        outside += 8 - static_cast<uint32_t>(__builtin_popcount(cells.inside));
        onNodata += static_cast<uint32_t>(__builtin_popcount(nodataCell));
        // Every record copied, kept advancing only over the selected ones:
        // no branch on a test that goes either way at random.
        for (size_t i = 0; i < 8; ++i) {
            copyRecord<Len>(kept, rec + i * Len);
            kept += ((selected >> i) & 1u) * Len;
        }
        cells = next;
    }
    tally.outside += outside;
    tally.onNodata += onNodata;
    const Selection rest = selectRecordsPortable(kept, records + k * Len, count - k, Len, c, tally);
    return {rest.keptEnd, k + rest.classified};
}

}  // namespace

Selection selectRecordsVector(uint8_t *keep, const uint8_t *records, size_t count, size_t len,
                              const SelectionContext &c, Tally &tally)
{
    if (c.cellsizeInverse == 0.0)  // a cell size whose inverse cannot stand in for it
        return selectRecordsPortable(keep, records, count, len, c, tally);
    switch (len) {
    case 20: return selectEights<20>(keep, records, count, c, tally);
    case 26: return selectEights<26>(keep, records, count, c, tally);
    case 28: return selectEights<28>(keep, records, count, c, tally);
    case 34: return selectEights<34>(keep, records, count, c, tally);
    default: return selectRecordsPortable(keep, records, count, len, c, tally);
    }
}
