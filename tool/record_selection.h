// Classifying a block of point records against the raster: which records
// fall outside it, on a NODATA cell, or inside the elevation window, with
// the selected ones moved, in order, to the front of the block.
//
// Two kernels give the same result bit for bit: a portable one, record by
// record, and a vector one for processors with AVX-512. selectBlock picks
// the vector one when the processor has it.
#ifndef MORVANE_RECORD_SELECTION_H
#define MORVANE_RECORD_SELECTION_H

#include "LiDAR.h"
#include "raster.h"
#include "tally.h"

#include <cstddef>
#include <cstdint>

// Everything the classification reads, widened to double once per run.
struct SelectionContext {
    double xScale, xOffset, yScale, yOffset, zScale, zOffset;
    double minx, miny, cellsize, rows, cols;
    // The cells held: a window of the grid, northern row first.
    const float *cells;
    double rowBegin, rowEnd, colBegin, colEnd;
    int32_t topRow, firstCol;  // the window's northern row, western column
    size_t windowCols;
    float nodata;
    bool nodataIsNaN;  // every NaN cell is NODATA
    double low, high;
    // The cell index is (coordinate - corner) / cellsize. Both kernels
    // multiply by cellsizeInverse instead when the product is always exact
    // (a power-of-two cell size: nearBorder is negative); the vector kernel
    // does so for any other size too and divides only where the product
    // lies within nearBorder of a whole number, where the two could floor
    // differently. There is no inverse (0) when it cannot be trusted at all.
    double cellsizeInverse;
    double nearBorder;

    SelectionContext(const LAS12Header &h, const Raster &raster, double lowLimit, double highLimit);
};

// What a kernel did with a run of records.
struct Selection {
    uint8_t *keptEnd;   // the selected records lie from the caller's `keep` up to here
    size_t classified;  // records handled; fewer than given when one lies in
                        // the grid but outside the cells held
};

// Classifies count records of len bytes, writing the selected ones in order
// from `keep` on (keep is records itself or lies a whole number of records
// before it) and counting the others in tally. Stops at the first record
// that lies in the grid outside the window held, leaving it and every later
// record untouched.
Selection selectRecords(uint8_t *keep, const uint8_t *records, size_t count, size_t len, const SelectionContext &c,
                        Tally &tally);

// The two kernels, for tests that hold them to each other. The vector one
// exists only when vectorKernelAvailable() is true; for record lengths
// other than 20, 26, 28 and 34 it hands over to the portable one.
Selection selectRecordsPortable(uint8_t *keep, const uint8_t *records, size_t count, size_t len,
                                const SelectionContext &c, Tally &tally);
Selection selectRecordsVector(uint8_t *keep, const uint8_t *records, size_t count, size_t len,
                              const SelectionContext &c, Tally &tally);
bool vectorKernelAvailable();

#endif
