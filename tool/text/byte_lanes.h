// Bytes of a 64-bit word as eight lanes, the first byte of text in the
// lowest lane: the tests the text reader and the number parsers share.
#ifndef MORVANE_BYTE_LANES_H
#define MORVANE_BYTE_LANES_H

#include "lidar/internal/unaligned.h"

#include <cstddef>
#include <cstdint>

namespace morvane {

constexpr uint64_t kOnes = 0x0101010101010101u;  // one in every byte lane

inline uint64_t load64(const char *p)
{
    return lidar::load_unaligned<uint64_t>(p);
}
inline uint64_t load32(const char *p)
{
    return lidar::load_unaligned<uint32_t>(p);
}

// The byte lanes below lane n (0 to 8) of a word.
inline uint64_t lanesBelow(size_t n)
{
    return n >= 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * n)) - 1;
}

// Lowest lane index whose byte is zero, for a word that has one. (Lanes
// above a zero byte may be flagged falsely; the lowest flag is exact.)
inline size_t firstZeroByte(uint64_t w)
{
    return static_cast<size_t>(__builtin_ctzll((w - kOnes) & ~w & (kOnes * 0x80))) / 8;
}

inline bool hasZeroByte(uint64_t w)
{
    return ((w - kOnes) & ~w & (kOnes * 0x80)) != 0;
}

// The characters isspace() takes in the C locale, as one bit test.
inline bool isSpace(char c)
{
    constexpr uint64_t kSpaces = (uint64_t{1} << ' ') | (uint64_t{1} << '\n') | (uint64_t{1} << '\r') |
                                 (uint64_t{1} << '\t') | (uint64_t{1} << '\v') | (uint64_t{1} << '\f');
    const auto u = static_cast<unsigned char>(c);
    return u <= ' ' && ((kSpaces >> u) & 1) != 0;
}

// Length of the token at p, which a space ends, eight bytes at a time;
// at least eight bytes must be readable from wherever that space lies.
inline size_t tokenLength(const char *p)
{
    size_t n = 0;
    for (;;) {
        const uint64_t w = load64(p + n);
        // Bytes below 0x21 (spaces and other control characters).
        const uint64_t low = (w - kOnes * 0x21) & ~w & (kOnes * 0x80);
        if (low == 0) {
            n += 8;
            continue;
        }
        n += static_cast<size_t>(__builtin_ctzll(low)) / 8;
        if (isSpace(p[n]))
            return n;
        ++n;
    }
}

// The token from pos on, the spaces before it skipped: where it begins and
// where the space that ends it lies. A stop at or past `end` means the
// token may go on past it (from `end` on, spaces must follow).
struct TokenSpan {
    size_t begin, stop;
};

inline TokenSpan tokenFrom(const char *data, size_t pos, size_t end)
{
    while (pos < end && isSpace(data[pos]))
        ++pos;
    return {pos, pos + tokenLength(data + pos)};
}

}  // namespace morvane

#endif
