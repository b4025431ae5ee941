// The record loop: select among every point record of the input against the
// raster and copy the selected ones to the output, streaming both files in
// large blocks through the fastest kernel the processor has.
#ifndef MORVANE_RECORD_LOOP_H
#define MORVANE_RECORD_LOOP_H

#include "LiDAR.h"
#include "lidar/internal/point_stats.h"
#include "raster/raster.h"
#include "select/selection_context.h"
#include "select/tally.h"

#include <cstdint>
#include <cstdio>

namespace morvane {

enum class LoopStatus { Ok, ShortInput, ReadError, WriteError };

struct PointSelection {
    LoopStatus status = LoopStatus::Ok;
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
// cannot be held, the failure is printed and the run failed.
PointSelection selectPoints(std::FILE *in, std::FILE *out, const char *inName, const LAS12Header &header,
                            Raster &raster, Limits limits);

}  // namespace morvane

#endif
