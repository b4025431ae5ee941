// Moving a record within a block, as both kernels do it.
#ifndef MORVANE_RECORD_COPY_H
#define MORVANE_RECORD_COPY_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace morvane {

// Copies a record of Len bytes (16 or more) to dst, which is the record
// itself or lies wholly before it. Every 16-byte piece is loaded before any
// is stored; the last piece overlaps the one before it.
template <size_t Len>
inline void copyRecord(uint8_t *dst, const uint8_t *src)
{
    static_assert(Len >= 16);
    struct Piece {
        uint8_t bytes[16];
    };
    constexpr size_t kPieces = (Len + 15) / 16;
    Piece pieces[kPieces];
    for (size_t i = 0; i < kPieces; ++i)
        std::memcpy(&pieces[i], src + std::min(16 * i, Len - 16), 16);
    for (size_t i = 0; i < kPieces; ++i)
        std::memcpy(dst + std::min(16 * i, Len - 16), &pieces[i], 16);
}

}  // namespace morvane

#endif
