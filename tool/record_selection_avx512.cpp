// The vector kernel: eight records at a time with AVX-512, compiled for
// that instruction set function by function so that the rest of the
// program runs on any x86-64 processor.
//
// It gives the portable kernel's result bit for bit: the same double
// operations in the same order (fused multiply-add is off for the whole
// build), the same ordered comparisons, and a cell index that is the
// quotient's own wherever multiplying by the inverse could floor otherwise.
#include "record_selection.h"

#include "raster.h"

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

using record_selection::copyRecord;

bool vectorKernelAvailable()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
           __builtin_cpu_supports("avx512dq");
}

namespace {

constexpr int kFloor = _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC;

// The classifier's numbers, one copy per lane.
struct Lanes {
    __m512d xScale, xOffset, yScale, yOffset, zScale, zOffset;
    __m512d minx, miny, cellsize, inverse, rows, cols, nearLow, nearHigh, low, high;
    __m256 nodata;
    __m256i offsets;  // of eight consecutive records
    const long long *raster;
};

template <size_t Len>
MORVANE_AVX512 Lanes lanesOf(const Classifier &c)
{
    constexpr int L = static_cast<int>(Len);
    return Lanes{_mm512_set1_pd(c.xScale), _mm512_set1_pd(c.xOffset), _mm512_set1_pd(c.yScale),
                 _mm512_set1_pd(c.yOffset), _mm512_set1_pd(c.zScale), _mm512_set1_pd(c.zOffset),
                 _mm512_set1_pd(c.minx), _mm512_set1_pd(c.miny), _mm512_set1_pd(c.cellsize),
                 _mm512_set1_pd(c.cellsizeInverse), _mm512_set1_pd(c.rows), _mm512_set1_pd(c.cols),
                 _mm512_set1_pd(c.nearBorder), _mm512_set1_pd(1.0 - c.nearBorder), _mm512_set1_pd(c.low),
                 _mm512_set1_pd(c.high), _mm256_set1_ps(c.nodata),
                 _mm256_setr_epi32(0, L, 2 * L, 3 * L, 4 * L, 5 * L, 6 * L, 7 * L),
                 reinterpret_cast<const long long *>(_raster)};
}

// Where eight records fall: the address of each one's cell, and which of
// them are inside the grid (the others point at cell [0][0]).
struct Cells {
    __m512i address;
    __mmask8 inside;
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
    const __m256i rowIndex = _mm512_maskz_cvttpd_epi32(inside, row);
    const __m256i colIndex = _mm512_maskz_cvttpd_epi32(inside, col);
    const __m512i rowStart = _mm512_i32gather_epi64(rowIndex, v.raster, 8);
    return Cells{_mm512_add_epi64(rowStart, _mm512_slli_epi64(_mm512_cvtepi32_epi64(colIndex), 2)), inside};
}

// Asks for the cells' cache lines ahead of their use.
MORVANE_AVX512 inline void prefetch(const Cells &cells)
{
    alignas(64) const char *address[8];
    _mm512_store_si512(address, cells.address);
    for (const char *a : address)
        _mm_prefetch(a, _MM_HINT_T0);
}

// The groups are pipelined: the cells of the next eight records are found,
// and their cache lines requested, before the values of this eight's are
// read, so that the raster's memory latency overlaps a group's work.
template <size_t Len>
MORVANE_AVX512 uint8_t *selectEights(uint8_t *records, size_t count, const Classifier &c, Tally &tally)
{
    const Lanes v = lanesOf<Len>(c);
    uint8_t *kept = records;
    uint32_t out = 0, onNodata = 0;
    size_t k = 0;
    Cells cells{};
    if (count >= 8)
        cells = locate<Len>(v, records);
    for (; k + 8 <= count; k += 8) {
        const uint8_t *rec = records + k * Len;
        Cells next = cells;
        if (k + 16 <= count) {
            next = locate<Len>(v, rec + 8 * Len);
            prefetch(next);
        }
        const __m256 value = _mm512_i64gather_ps(cells.address, nullptr, 1);
        const __mmask8 onNodataCell = _mm256_cmp_ps_mask(value, v.nodata, _CMP_EQ_OQ) & cells.inside;
        const __m256i zRaw = _mm256_i32gather_epi32(reinterpret_cast<const int *>(rec + 8), v.offsets, 1);
        const __m512d z = _mm512_add_pd(_mm512_mul_pd(_mm512_cvtepi32_pd(zRaw), v.zScale), v.zOffset);
        const __m512d surface = _mm512_cvtps_pd(value);
        const __mmask8 within = _mm512_cmp_pd_mask(_mm512_add_pd(surface, v.low), z, _CMP_LE_OQ) &
                                _mm512_cmp_pd_mask(z, _mm512_add_pd(surface, v.high), _CMP_LE_OQ);
        const unsigned selected = within & cells.inside & ~onNodataCell & 0xFFu;

        out += 8 - static_cast<uint32_t>(__builtin_popcount(cells.inside));
        onNodata += static_cast<uint32_t>(__builtin_popcount(onNodataCell));
        // Every record copied, kept advancing only over the selected ones:
        // no branch on a test that goes either way at random.
        for (size_t i = 0; i < 8; ++i) {
            copyRecord<Len>(kept, rec + i * Len);
            kept += ((selected >> i) & 1u) * Len;
        }
        cells = next;
    }
    tally.out += out;
    tally.onNodata += onNodata;
    return record_selection::selectPortable(kept, records + k * Len, count - k, Len, c, tally);
}

}  // namespace

size_t selectBlockVector(uint8_t *records, size_t count, size_t len, const Classifier &c, Tally &tally)
{
    if (c.cellsizeInverse == 0.0)  // a cell size whose inverse cannot stand in for it
        return selectBlockPortable(records, count, len, c, tally);
    const uint8_t *end = nullptr;
    switch (len) {
    case 20: end = selectEights<20>(records, count, c, tally); break;
    case 26: end = selectEights<26>(records, count, c, tally); break;
    case 28: end = selectEights<28>(records, count, c, tally); break;
    case 34: end = selectEights<34>(records, count, c, tally); break;
    default: return selectBlockPortable(records, count, len, c, tally);
    }
    return static_cast<size_t>(end - records) / len;
}
