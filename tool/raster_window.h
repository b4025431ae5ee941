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

// The smallest window holding both.
CellWindow cover(const CellWindow &a, const CellWindow &b);

#endif
