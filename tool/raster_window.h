// Which cells of the grid a run needs: those under the input's points, found
// from its header bounds or from the records themselves.
#ifndef MORVANE_RASTER_WINDOW_H
#define MORVANE_RASTER_WINDOW_H

#include "LiDAR.h"
#include "grid_geometry.h"

#include <cstdint>

// Extremes of the stored X and Y of a run of point records.
struct RecordBounds {
    int32_t minX = INT32_MAX, maxX = INT32_MIN;
    int32_t minY = INT32_MAX, maxY = INT32_MIN;
    bool any = false;

    void add(const uint8_t *record);
};

// The cells under a box of coordinates and one cell around it, within the
// grid; empty for a box that is empty, NaN or wholly outside.
CellWindow windowForBounds(const GridGeometry &g, double minX, double maxX, double minY, double maxY);

// The cells under the records, their coordinates scaled as the header says.
CellWindow windowForRecords(const GridGeometry &g, const LAS12Header &h, const RecordBounds &b);

// The smallest window holding both.
CellWindow cover(const CellWindow &a, const CellWindow &b);

#endif
