// The record loop's tally: the points written, those on NODATA cells and
// those outside the raster (the rest were not selected), and its four lines.
#ifndef MORVANE_TALLY_H
#define MORVANE_TALLY_H

#include <cstdint>

namespace morvane {

struct Tally {
    uint32_t selected = 0;  // written to the output
    uint32_t onNodata = 0;  // on a NODATA cell
    uint32_t outside = 0;   // outside the raster
};

// Each count with its share of the n input points; an empty input shows
// 0.00 % rather than a division by zero.
void printTally(const Tally &t, uint32_t n);

}  // namespace morvane

#endif
