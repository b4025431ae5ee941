// Numbers in header and grid text, parsed in place without scanf: the usual
// short decimals eight bytes at a time, any other form with std::from_chars.
// A decimal comma, as grids written under many locales have it, is read as
// the decimal point: tokens are separated by white space, so a comma inside
// one cannot separate two numbers.
#ifndef MORVANE_NUMERIC_TEXT_H
#define MORVANE_NUMERIC_TEXT_H

#include "text/byte_lanes.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace morvane {

// len (1 to 8) bytes at p as one word, the first byte in the lowest lane
// and zero bytes above: two overlapping loads, or three single bytes.
inline uint64_t loadShort(const char *p, size_t len)
{
    if (len >= 4)
        return load32(p) | load32(p + len - 4) << (8 * (len - 4));
    return uint64_t{static_cast<uint8_t>(p[0])} | uint64_t{static_cast<uint8_t>(p[len / 2])} << (8 * (len / 2)) |
           uint64_t{static_cast<uint8_t>(p[len - 1])} << (8 * (len - 1));
}

// A leading '+' that "%f" and "%d" accept and from_chars does not: the
// token without it, unless a second sign follows.
std::string_view withoutPlus(std::string_view token);

// Whole tokens only; false when any character is left over. A real number
// may have a decimal comma.
bool parseDouble(std::string_view token, double &value);
bool parseInteger(std::string_view token, int64_t &value);

// The doubles nearest 10^-p, by p: a short decimal's scale.
inline constexpr double kInversePowersOfTen[8] = {1e0, 1e-1, 1e-2, 1e-3, 1e-4, 1e-5, 1e-6, 1e-7};

// The digits of a short decimal as byte lanes (w, the first character in
// the lowest lane, zero lanes above len), with at most one '.' between two
// of them, seven digits in all, read as strtof reads them. False for any
// other text.
//
// The digits m (below 10^7) over 10^p (p up to 7) round correctly to the
// float strtof gives when taken as m times the double nearest 10^-p, then
// rounded to float, with no division: that product is within a relative
// 2^-52 of m / 10^p, and no m / 10^p that is not itself a float lies
// within a relative 2^-41 of a point halfway between two floats (checked
// too for all 8 x 10^7 pairs against the correctly rounded division).
inline bool parseDecimalLanes(uint64_t w, size_t len, bool negative, float &value)
{
    size_t count = len, places = 0;
    if (const uint64_t dots = w ^ (kOnes * '.'); hasZeroByte(dots)) {
        const size_t at = firstZeroByte(dots);
        if (at == 0 || at + 1 >= len)
            return false;
        const uint64_t before = lanesBelow(at);
        w = (w & before) | ((w >> 8) & ~before);  // close the gap
        count = len - 1;
        places = len - 1 - at;
    }
    if (count > 7)
        return false;
    // All digits? The lanes above count are '0's for the test.
    const uint64_t t = w | (~lanesBelow(count) & (kOnes * '0'));
    if ((t & (kOnes * 0xF0)) != kOnes * 0x30 || ((t + kOnes * 0x06) & (kOnes * 0xF0)) != kOnes * 0x30)
        return false;
    // Right-aligned behind zero digits, the eight digits are summed in
    // pairs, then the pairs in fours and the fours into the number.
    uint64_t v = (t - kOnes * '0') << (8 * (8 - count));
    v = v * 10 + (v >> 8);
    v = ((v & 0x000000FF000000FFu) * (100 + (uint64_t{1000000} << 32)) +
         ((v >> 16) & 0x000000FF000000FFu) * (1 + (uint64_t{10000} << 32))) >>
        32;
    const float magnitude =
        static_cast<float>(static_cast<double>(static_cast<uint32_t>(v)) * kInversePowersOfTen[places]);
    value = negative ? -magnitude : magnitude;
    return true;
}

// The same lanes with a decimal comma where the point would stand, read as
// the point. Out of line: only a token the dotted form refused comes here,
// so a grid written with points pays nothing for it.
bool parseDecimalLanesWithComma(uint64_t w, size_t len, bool negative, float &value);

// The grids' usual values: an optional '-', then up to eight characters of
// digits with at most one '.' or ',' between two of them, seven digits in
// all, read as strtof reads them with a point. False for every other token.
inline bool parseShortDecimal(std::string_view token, float &value)
{
    const bool negative = !token.empty() && token.front() == '-';
    const size_t len = token.size() - (negative ? 1 : 0);
    if (len == 0 || len > 8)
        return false;
    // The characters as byte lanes, the first (most significant) lowest.
    const uint64_t w = loadShort(token.data() + (negative ? 1 : 0), len);
    return parseDecimalLanes(w, len, negative, value) || parseDecimalLanesWithComma(w, len, negative, value);
}

// Any other form of number "%f" reads, or would read with a dot in place
// of a decimal comma.
bool parseOtherFloat(std::string_view token, float &value);

// Parses a whole token as a single-precision value the way "%f" reads it
// (correctly rounded; sign, exponent, inf and nan accepted; a decimal comma
// read as the point); false when the whole token is not a number.
inline bool parseFloatToken(std::string_view token, float &value)
{
    return parseShortDecimal(token, value) || parseOtherFloat(token, value);
}

}  // namespace morvane

#endif
