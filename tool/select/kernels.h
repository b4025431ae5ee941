// Selecting among a block of point records against the raster: which
// records fall outside it, on a NODATA cell, or inside the elevation window,
// with the selected ones moved, in order, to the front of the block.
#ifndef MORVANE_KERNELS_H
#define MORVANE_KERNELS_H

#include "select/selection_context.h"
#include "select/tally.h"

#include <cstddef>
#include <cstdint>

namespace morvane {

// What a kernel did with a run of records.
struct Selection {
    uint8_t *keptEnd;   // the selected records lie from the caller's `keep` up to here
    size_t classified;  // records handled; fewer than given when one lies in
                        // the grid but outside the cells held
};

// Each kernel selects among count records of len bytes, writing the selected
// ones in order from `keep` on (keep is records itself, lies a whole number
// of records before it, or starts a block of its own for count records, as
// where the records are read from a mapping) and counting the others in tally. It stops at the
// first record that lies in the grid outside the window held, leaving it and
// every later record untouched.
//
// The portable kernel goes record by record. The vector one exists only
// when vectorKernelAvailable() is true; for record lengths other than 20,
// 26, 28 and 34, and for cells held as blocks, it hands over to the
// portable one. Both give the same
// result bit for bit; the record loop picks the vector one where it runs.
Selection selectRecordsPortable(uint8_t *keep, const uint8_t *records, size_t count, size_t len,
                                const SelectionContext &c, Tally &tally);
Selection selectRecordsVector(uint8_t *keep, const uint8_t *records, size_t count, size_t len,
                              const SelectionContext &c, Tally &tally);
bool vectorKernelAvailable();

}  // namespace morvane

#endif
