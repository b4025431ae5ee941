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

template <size_t Len>
MORVANE_AVX512 uint8_t *selectEights(uint8_t *records, size_t count, const Classifier &c, Tally &tally)
{
    const __m512d yScale = _mm512_set1_pd(c.yScale), yOffset = _mm512_set1_pd(c.yOffset);
    const __m512d xScale = _mm512_set1_pd(c.xScale), xOffset = _mm512_set1_pd(c.xOffset);
    const __m512d zScale = _mm512_set1_pd(c.zScale), zOffset = _mm512_set1_pd(c.zOffset);
    const __m512d miny = _mm512_set1_pd(c.miny), minx = _mm512_set1_pd(c.minx);
    const __m512d cellsize = _mm512_set1_pd(c.cellsize), inverse = _mm512_set1_pd(c.cellsizeInverse);
    const __m512d rows = _mm512_set1_pd(c.rows), cols = _mm512_set1_pd(c.cols), zero = _mm512_setzero_pd();
    const __m512d nearLow = _mm512_set1_pd(c.nearBorder), nearHigh = _mm512_set1_pd(1.0 - c.nearBorder);
    const __m512d low = _mm512_set1_pd(c.low), high = _mm512_set1_pd(c.high);
    const __m256 nodata = _mm256_set1_ps(c.nodata);
    constexpr int L = static_cast<int>(Len);
    const __m256i offsets = _mm256_setr_epi32(0, L, 2 * L, 3 * L, 4 * L, 5 * L, 6 * L, 7 * L);
    const auto *raster = reinterpret_cast<const long long *>(_raster);
    constexpr int kFloor = _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC;

    uint8_t *kept = records;
    uint32_t out = 0, onNodata = 0;
    size_t k = 0;
    for (; k + 8 <= count; k += 8) {
        const uint8_t *rec = records + k * Len;
        const __m256i x = _mm256_i32gather_epi32(reinterpret_cast<const int *>(rec), offsets, 1);
        const __m256i y = _mm256_i32gather_epi32(reinterpret_cast<const int *>(rec + 4), offsets, 1);
        const __m512d dy = _mm512_sub_pd(_mm512_add_pd(_mm512_mul_pd(_mm512_cvtepi32_pd(y), yScale), yOffset), miny);
        const __m512d dx = _mm512_sub_pd(_mm512_add_pd(_mm512_mul_pd(_mm512_cvtepi32_pd(x), xScale), xOffset), minx);
        __m512d row = _mm512_mul_pd(dy, inverse), col = _mm512_mul_pd(dx, inverse);
        const __m512d rowFraction = _mm512_sub_pd(row, _mm512_roundscale_pd(row, kFloor));
        const __m512d colFraction = _mm512_sub_pd(col, _mm512_roundscale_pd(col, kFloor));
        const __mmask8 near = _mm512_cmp_pd_mask(rowFraction, nearLow, _CMP_LT_OQ) |
                              _mm512_cmp_pd_mask(rowFraction, nearHigh, _CMP_GT_OQ) |
                              _mm512_cmp_pd_mask(colFraction, nearLow, _CMP_LT_OQ) |
                              _mm512_cmp_pd_mask(colFraction, nearHigh, _CMP_GT_OQ);
        if (near != 0) [[unlikely]] {
            row = _mm512_div_pd(dy, cellsize);
            col = _mm512_div_pd(dx, cellsize);
        }
        const __mmask8 inside = _mm512_cmp_pd_mask(row, zero, _CMP_GE_OQ) & _mm512_cmp_pd_mask(row, rows, _CMP_LT_OQ) &
                                _mm512_cmp_pd_mask(col, zero, _CMP_GE_OQ) & _mm512_cmp_pd_mask(col, cols, _CMP_LT_OQ);
        // Lanes outside the grid read cell [0][0] and are discarded.
        const __m256i rowIndex = _mm512_maskz_cvttpd_epi32(inside, row);
        const __m256i colIndex = _mm512_maskz_cvttpd_epi32(inside, col);
        const __m512i rowStart = _mm512_i32gather_epi64(rowIndex, raster, 8);
        const __m512i cell = _mm512_add_epi64(rowStart, _mm512_slli_epi64(_mm512_cvtepi32_epi64(colIndex), 2));
        const __m256 value = _mm512_i64gather_ps(cell, nullptr, 1);
        const __mmask8 onNodataCell = _mm256_cmp_ps_mask(value, nodata, _CMP_EQ_OQ) & inside;

        const __m256i zRaw = _mm256_i32gather_epi32(reinterpret_cast<const int *>(rec + 8), offsets, 1);
        const __m512d z = _mm512_add_pd(_mm512_mul_pd(_mm512_cvtepi32_pd(zRaw), zScale), zOffset);
        const __m512d surface = _mm512_cvtps_pd(value);
        const __mmask8 within = _mm512_cmp_pd_mask(_mm512_add_pd(surface, low), z, _CMP_LE_OQ) &
                                _mm512_cmp_pd_mask(z, _mm512_add_pd(surface, high), _CMP_LE_OQ);
        const unsigned selected = within & inside & ~onNodataCell & 0xFFu;

        out += 8 - static_cast<uint32_t>(__builtin_popcount(inside));
        onNodata += static_cast<uint32_t>(__builtin_popcount(onNodataCell));
        // Every record copied, kept advancing only over the selected ones:
        // no branch on a test that goes either way at random.
        for (size_t i = 0; i < 8; ++i) {
            copyRecord<Len>(kept, rec + i * Len);
            kept += ((selected >> i) & 1u) * Len;
        }
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
