// The record loop: classify every point record against the raster and copy
// the selected ones to the output, streaming both files in large blocks.
#ifndef MORVANE_POINT_FILTER_H
#define MORVANE_POINT_FILTER_H

#include "LiDAR.h"
#include "point_stats.h"
#include "raster.h"
#include "tally.h"

#include <cstdint>
#include <cstdio>

enum class FilterStatus { Ok, ShortInput, ReadError, WriteError };

struct FilterResult {
    FilterStatus status = FilterStatus::Ok;
    int error = 0;  // errno of a failed read or write
    uint32_t recordsRead = 0;
    Tally tally;
    lidar::PointStats written;  // header statistics of the records written
};

// Both files are positioned at the first point record. Prints the progress
// lines; console output and output bytes are those of a one-record-at-a-time
// loop over the header's point count. Where a point lies in the grid but
// outside the cells held, the raster is given the cells under every point
// still to come (a header whose bounds do not cover its points); when those
// cannot be held, the failure is printed and RunFailure thrown.
FilterResult filterPoints(std::FILE *in, std::FILE *out, const char *inName, const LAS12Header &header, Raster &raster,
                          double lowLimit, double highLimit);

#endif
