// Which cells of the grid a run needs: those under the input's points, found
// from its header bounds or from the records themselves.
#ifndef MORVANE_RASTER_WINDOW_H
#define MORVANE_RASTER_WINDOW_H

#include "LiDAR.h"
#include "grid_geometry.h"
#include "point_stats.h"

// The cells under a box of coordinates and one cell around it, within the
// grid; empty for a box that is empty, NaN or wholly outside.
CellWindow windowForBounds(const GridGeometry &g, double minX, double maxX, double minY, double maxY);

// The cells under records of which `stats` holds the extremes, their
// coordinates scaled as the header says.
CellWindow windowForRecords(const GridGeometry &g, const LAS12Header &h, const lidar::PointStats &stats);

// The extremes of records [from, NumberOfPointReturns) of a LAS file, read
// where they lie (the descriptor's position is not moved); complete is
// false when the file ends or fails before the last of them.
struct RecordExtent {
    lidar::PointStats stats;
    bool complete = true;
};
RecordExtent measureRecords(int fd, const LAS12Header &h, uint64_t from);

// The cells a run holds before its record loop. The header bounds are a
// hint: they serve when their cells can be held and cost no more to read
// than the records (and, for an ASCII grid, which is parsed once, when they
// are the whole grid); otherwise the records are measured and only the
// cells under them are held.
CellWindow cellsForInput(const GridGeometry &g, const LAS12Header &h, int fd, bool parsedWhole);

#endif
