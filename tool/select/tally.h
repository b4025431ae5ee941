// The record loop's count of the points it did not write.
#ifndef MORVANE_TALLY_H
#define MORVANE_TALLY_H

#include <cstdint>

struct Tally {
    uint32_t selected = 0;  // written to the output
    uint32_t onNodata = 0;  // on a NODATA cell
    uint32_t outside = 0;   // outside the raster
};

#endif
