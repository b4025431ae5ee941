// Classifying a block of point records against the raster: which records
// fall outside it, on a NODATA cell, or inside the elevation window, with
// the selected ones moved, in order, to the front of the block.
//
// Two kernels give the same result bit for bit: a portable one, record by
// record, and a vector one for processors with AVX-512. selectBlock picks
// the vector one when the processor has it and the record length is one of
// the four standard ones.
#ifndef MORVANE_RECORD_SELECTION_H
#define MORVANE_RECORD_SELECTION_H

#include "LiDAR.h"
#include "point_filter.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

// Everything the classification reads, widened to double once per run.
struct Classifier {
    double xScale, xOffset, yScale, yOffset, zScale, zOffset;
    double minx, miny, cellsize, rows, cols;
    float nodata;
    double low, high;
    // The cell index is (coordinate - corner) / cellsize. The vector kernel
    // multiplies by cellsizeInverse instead and divides only where the
    // product lies within nearBorder of a whole number, where the two could
    // floor differently; nearBorder is negative when the product is always
    // exact (a power-of-two cell size) and there is no inverse (0) when it
    // cannot be trusted at all.
    double cellsizeInverse;
    double nearBorder;

    Classifier(const LAS12Header &h, double lowLimit, double highLimit);
};

// Classifies count records of len bytes and compacts the selected ones to
// the front of records; returns how many were selected and adds the others
// to the tally.
size_t selectBlock(uint8_t *records, size_t count, size_t len, const Classifier &c, Tally &tally);

// The two kernels, for tests that hold them to each other. The vector one
// exists only when vectorKernelAvailable() is true, and only for len 20,
// 26, 28 and 34.
size_t selectBlockPortable(uint8_t *records, size_t count, size_t len, const Classifier &c, Tally &tally);
size_t selectBlockVector(uint8_t *records, size_t count, size_t len, const Classifier &c, Tally &tally);
bool vectorKernelAvailable();

namespace record_selection {

inline int32_t load32(const uint8_t *p)
{
    int32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

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

// The portable kernel on records[0, count), writing the selected records
// from kept on (kept <= records); returns the end of what it kept.
uint8_t *selectPortable(uint8_t *kept, const uint8_t *records, size_t count, size_t len,
                        const Classifier &c, Tally &tally);

}  // namespace record_selection

#endif
