// Bytes of a 64-bit word as eight lanes, the first byte of text in the
// lowest lane: the tests the text reader and the number parser share.
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

}  // namespace morvane

#endif
