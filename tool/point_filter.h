// The record loop: classify every point record against the raster and copy
// the selected ones to the output, streaming both files in large blocks.
#ifndef MORVANE_POINT_FILTER_H
#define MORVANE_POINT_FILTER_H

#include "LiDAR.h"
#include "point_stats.h"

#include <cstdint>
#include <cstdio>

struct Tally {
    uint32_t in = 0;        // written to the output
    uint32_t onNodata = 0;  // on a NODATA cell
    uint32_t out = 0;       // outside the raster
};

enum class FilterStatus { Ok, ShortInput, ReadError, WriteError };

struct FilterResult {
    FilterStatus status = FilterStatus::Ok;
    uint32_t recordsRead = 0;
    Tally tally;
    lidar::PointStats written;  // header statistics of the records written
};

// Both files are positioned at the first point record. Prints the progress
// lines; console output and output bytes are those of a one-record-at-a-time
// loop over the header's point count. After a failure errno tells its cause.
FilterResult filterPoints(std::FILE *in, std::FILE *out, const LAS12Header &header,
                          double lowLimit, double highLimit);

#endif
