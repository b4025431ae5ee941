// Selecting among a block of point records against the raster: which
// records fall outside it, on a NODATA cell, or inside the elevation window,
// with the selected ones moved, in order, to the front of the block.
#ifndef MORVANE_KERNELS_H
#define MORVANE_KERNELS_H

#include "select/selection_context.h"
#include "select/tally.h"

#include <cstddef>
#include <cstdint>
#include <span>

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
// The portable kernel goes record by record. The vector ones exist only on
// x86-64, each where its processor runs it; for record lengths other than
// 20, 26, 28 and 34, and for cells held as blocks, they hand over to the
// portable one. All give the same result bit for bit; the record loop
// picks the widest vector kernel the processor runs.
using Kernel = Selection (*)(uint8_t *keep, const uint8_t *records, size_t count, size_t len, const SelectionContext &c,
                             Tally &tally);

Selection selectRecordsPortable(uint8_t *keep, const uint8_t *records, size_t count, size_t len,
                                const SelectionContext &c, Tally &tally);

struct VectorKernel {
    const char *instructions;  // "AVX-512", "AVX2"
    bool (*available)();       // whether this processor runs it
    Kernel select;
};

// This build's vector kernels, widest first (none off x86-64).
std::span<const VectorKernel> vectorKernels();
// The widest one this processor runs; null where none does.
const VectorKernel *vectorKernel();

// The vector kernels themselves (x86-64 only).
Selection selectRecordsAvx512(uint8_t *keep, const uint8_t *records, size_t count, size_t len,
                              const SelectionContext &c, Tally &tally);
bool avx512KernelAvailable();
Selection selectRecordsAvx2(uint8_t *keep, const uint8_t *records, size_t count, size_t len, const SelectionContext &c,
                            Tally &tally);
bool avx2KernelAvailable();

}  // namespace morvane

#endif
