#include "text/decimal_run.h"

#include "text/byte_lanes.h"
#include "text/numeric_text.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <string_view>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace morvane {

DecimalRun parseDecimalRunPortable(const char *data, size_t pos, size_t end, float *out, size_t count)
{
    DecimalRun run{0, pos, pos};
    while (run.values < count) {
        const auto [begin, stop] = tokenFrom(data, run.end, end);
        if (stop >= end || !parseShortDecimal(std::string_view(data + begin, stop - begin), out[run.values]))
            break;
        ++run.values;
        run.lastBegin = begin;
        run.end = stop;
    }
    return run;
}

#if defined(__x86_64__)

namespace {

#define MORVANE_AVX2 __attribute__((target("avx2,bmi,bmi2")))

// Bit k set where byte k of the 64 from p is a space, as isSpace() has it.
MORVANE_AVX2 inline uint64_t spaceBits(const char *p)
{
    const __m256i blank = _mm256_set1_epi8(' '), tab = _mm256_set1_epi8('\t'), four = _mm256_set1_epi8(4);
    uint64_t bits = 0;
    for (int half = 0; half < 2; ++half) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + 32 * half));
        const __m256i controls = _mm256_sub_epi8(x, tab);  // '\t' to '\r' become 0 to 4
        const __m256i spaces = _mm256_or_si256(_mm256_cmpeq_epi8(x, blank),
                                               _mm256_cmpeq_epi8(_mm256_min_epu8(controls, four), controls));
        bits |= uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(spaces))} << (32 * half);
    }
    return bits;
}

// The tokens from a position on, found through bit masks of the spaces in
// blocks of 64 bytes: the block holding the next token starts and the one
// after it, where a token begun near the block's end goes on.
class TokenScan {
public:
    struct Token {
        size_t begin;
        size_t length;  // 0: no more tokens that end before the text's end
    };

    // pos lies between tokens (or at the text's start): a token there
    // begins there.
    MORVANE_AVX2 TokenScan(const char *data, size_t pos, size_t end)
        : data_(data), end_(end), base_(pos), spaces_(spaceBits(data + pos)), after_(spaceBits(data + pos + 64)),
          starts_(~spaces_ & ((spaces_ << 1) | 1))
    {
    }

    MORVANE_AVX2 Token next()
    {
        while (starts_ == 0) {
            if (base_ >= end_)
                return {end_, 0};
            base_ += 64;
            const uint64_t lastSpace = spaces_ >> 63;
            spaces_ = after_;
            after_ = spaceBits(data_ + base_ + 64);
            starts_ = ~spaces_ & ((spaces_ << 1) | lastSpace);
        }
        const auto at = static_cast<unsigned>(__builtin_ctzll(starts_));
        starts_ &= starts_ - 1;
        // The spaces from the token on: its block's, then the next's.
        const uint64_t rest = at == 0 ? spaces_ : (spaces_ >> at) | (after_ << (64 - at));
        const size_t begin = base_ + at;
        const size_t length = rest == 0 ? end_ : static_cast<size_t>(__builtin_ctzll(rest));
        if (begin + length >= end_) {  // it may go on past the text's end
            base_ = end_;
            starts_ = 0;
            return {end_, 0};
        }
        return {begin, length};
    }

private:
    const char *data_;
    size_t end_;
    size_t base_;  // where the block begins
    uint64_t spaces_, after_, starts_;
};

// A token's lane: its characters after any '-', the first in the lowest
// byte (only the first `length` are looked at), their number, and the
// float sign bit of a negative value.
struct Lane {
    long long word;
    long long length;
    int sign;
};

inline Lane laneOf(const char *data, TokenScan::Token t)
{
    const size_t negative = data[t.begin] == '-' ? 1 : 0;
    return {static_cast<long long>(load64(data + t.begin + negative)), static_cast<long long>(t.length - negative),
            static_cast<int>(negative << 31)};
}

// kInversePowersOfTen as the low and the high halves of each double.
struct ScaleHalves {
    alignas(32) uint32_t low[8];
    alignas(32) uint32_t high[8];
};
constexpr ScaleHalves kScaleHalves = [] {
    ScaleHalves h{};
    for (size_t p = 0; p < 8; ++p) {
        const auto bits = std::bit_cast<uint64_t>(kInversePowersOfTen[p]);
        h.low[p] = static_cast<uint32_t>(bits);
        h.high[p] = static_cast<uint32_t>(bits >> 32);
    }
    return h;
}();

// The doubles nearest 10^-places, a lane each: each half picked by a
// permute (cheaper here than a gather).
MORVANE_AVX2 inline __m256d scaleOf(__m256i places)
{
    const __m256i index = _mm256_or_si256(places, _mm256_slli_epi64(places, 32));  // both halves of a lane
    const __m256i low = _mm256_permutevar8x32_epi32(
        _mm256_load_si256(reinterpret_cast<const __m256i *>(kScaleHalves.low)), index);
    const __m256i high = _mm256_permutevar8x32_epi32(
        _mm256_load_si256(reinterpret_cast<const __m256i *>(kScaleHalves.high)), index);
    return _mm256_castsi256_pd(_mm256_blend_epi32(low, high, 0xAA));
}

// Which of four lanes hold a short decimal (bit k for lane k), and their
// values, read as parseDecimalLanes() reads one: a separator, '.' or ',',
// is closed up, the digits are summed in pairs, fours and eights, and the
// sum times the double nearest 10^-places is rounded once to float.
MORVANE_AVX2 inline unsigned parseFour(const Lane (&t)[4], __m128 &values)
{
    const __m256i zero = _mm256_setzero_si256(), ones = _mm256_set1_epi64x(-1);
    const __m256i lowBits = _mm256_set1_epi8(1), zeros = _mm256_set1_epi8('0'), nines = _mm256_set1_epi8(9);
    const __m256i length = _mm256_set_epi64x(t[3].length, t[2].length, t[1].length, t[0].length);
    const __m256i past = _mm256_sllv_epi64(ones, _mm256_slli_epi64(length, 3));  // bytes after the token
    __m256i w = _mm256_andnot_si256(past, _mm256_set_epi64x(t[3].word, t[2].word, t[1].word, t[0].word));

    // The first separator, closed up; places: the digits after it.
    const __m256i separators = _mm256_and_si256(
        _mm256_or_si256(_mm256_cmpeq_epi8(w, _mm256_set1_epi8('.')), _mm256_cmpeq_epi8(w, _mm256_set1_epi8(','))),
        lowBits);
    const __m256i first = _mm256_and_si256(separators, _mm256_sub_epi64(zero, separators));
    const __m256i before = _mm256_sub_epi64(first, _mm256_set1_epi64x(1));  // every byte where none
    const __m256i noSeparator = _mm256_cmpeq_epi64(first, zero);
    w = _mm256_or_si256(_mm256_and_si256(w, before), _mm256_andnot_si256(before, _mm256_srli_epi64(w, 8)));
    const __m256i count = _mm256_sub_epi64(_mm256_add_epi64(length, ones), noSeparator);  // length - 1 if one
    const __m256i fromSeparator = _mm256_sad_epu8(_mm256_andnot_si256(_mm256_or_si256(before, past), lowBits), zero);
    const __m256i places = _mm256_andnot_si256(noSeparator, _mm256_add_epi64(fromSeparator, ones));

    // Digits only, one to seven of them, a separator neither first nor last.
    const __m256i t8 = _mm256_or_si256(w,
                                       _mm256_and_si256(_mm256_sllv_epi64(ones, _mm256_slli_epi64(count, 3)), zeros));
    const __m256i digits = _mm256_sub_epi8(t8, zeros);
    const __m256i allDigits = _mm256_cmpeq_epi64(_mm256_cmpeq_epi8(_mm256_max_epu8(digits, nines), nines), ones);
    const __m256i badLength = _mm256_or_si256(_mm256_cmpgt_epi64(_mm256_set1_epi64x(1), length),
                                              _mm256_cmpgt_epi64(count, _mm256_set1_epi64x(7)));
    const __m256i badSeparator = _mm256_andnot_si256(
        noSeparator,
        _mm256_or_si256(_mm256_cmpeq_epi64(first, _mm256_set1_epi64x(1)), _mm256_cmpeq_epi64(places, zero)));
    const __m256i good = _mm256_andnot_si256(_mm256_or_si256(badLength, badSeparator), allDigits);

    // The digits right-aligned, then summed: pairs, fours, then the eight.
    const __m256i aligned = _mm256_sllv_epi64(digits,
                                              _mm256_slli_epi64(_mm256_sub_epi64(_mm256_set1_epi64x(8), count), 3));
    const __m256i pairs = _mm256_maddubs_epi16(aligned, _mm256_set1_epi16(0x010A));
    const __m256i fours = _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x00010064));
    const __m256i sums = _mm256_add_epi64(_mm256_mul_epu32(fours, _mm256_set1_epi64x(10000)),
                                          _mm256_srli_epi64(fours, 32));
    const __m128i packed = _mm256_castsi256_si128(
        _mm256_permutevar8x32_epi32(sums, _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6)));
    const __m256d scale = scaleOf(places);
    const __m128 magnitudes = _mm256_cvtpd_ps(_mm256_mul_pd(_mm256_cvtepi32_pd(packed), scale));
    values = _mm_xor_ps(magnitudes, _mm_castsi128_ps(_mm_set_epi32(t[3].sign, t[2].sign, t[1].sign, t[0].sign)));
    return static_cast<unsigned>(_mm256_movemask_pd(_mm256_castsi256_pd(good)));
}

MORVANE_AVX2 DecimalRun parseDecimalRunAvx2(const char *data, size_t pos, size_t end, float *out, size_t count)
{
    DecimalRun run{0, pos, pos};
    TokenScan scan(data, pos, end);
    while (run.values < count) {
        // Four at a time; a lane without a token (length 0) is no number.
        const TokenScan::Token tokens[4] = {scan.next(), scan.next(), scan.next(), scan.next()};
        const Lane lanes[4] = {laneOf(data, tokens[0]), laneOf(data, tokens[1]), laneOf(data, tokens[2]),
                               laneOf(data, tokens[3])};
        __m128 values;
        const unsigned wanted = static_cast<unsigned>(std::min<size_t>(4, count - run.values));
        const unsigned good = parseFour(lanes, values) & ((1u << wanted) - 1);
        const auto taken = static_cast<unsigned>(__builtin_ctz(~good));  // the leading good lanes
        if (taken == 0)
            break;
        if (taken == 4) {
            _mm_storeu_ps(out + run.values, values);
        } else {  // a masked store is slow on some processors; this is the run's last group
            alignas(16) float four[4];
            _mm_store_ps(four, values);
            std::copy_n(four, taken, out + run.values);
        }
        run.values += taken;
        run.lastBegin = tokens[taken - 1].begin;
        run.end = tokens[taken - 1].begin + tokens[taken - 1].length;
        if (taken < 4)
            break;
    }
    return run;
}

bool avx2Available()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2");
}

}  // namespace

DecimalRun parseDecimalRun(const char *data, size_t pos, size_t end, float *out, size_t count)
{
    static const bool vector = avx2Available();
    return vector ? parseDecimalRunAvx2(data, pos, end, out, count)
                  : parseDecimalRunPortable(data, pos, end, out, count);
}

#else

DecimalRun parseDecimalRun(const char *data, size_t pos, size_t end, float *out, size_t count)
{
    return parseDecimalRunPortable(data, pos, end, out, count);
}

#endif

}  // namespace morvane
