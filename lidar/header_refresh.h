// The header refresh for a writer that gathered the statistics of its
// records while writing them (the library's update_header recounts them).
#ifndef LIDAR_HEADER_REFRESH_H
#define LIDAR_HEADER_REFRESH_H

#include "point_stats.h"

namespace lidar {

// Does what update_header does, with the same checks of the name and the
// file and the same messages, but takes the statistics from `written`
// instead of a pass over the records when the file holds exactly
// written.count whole records; otherwise it recounts them. The header
// bytes are the same either way.
void update_header_written(const char *filename, const PointStats &written);

}  // namespace lidar

#endif
