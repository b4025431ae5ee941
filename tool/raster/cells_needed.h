// Which cells of the grid a run holds: those under the input's points,
// found from its header bounds or from the records themselves.
#ifndef MORVANE_CELLS_NEEDED_H
#define MORVANE_CELLS_NEEDED_H

#include "LiDAR.h"
#include "lidar/internal/point_stats.h"
#include "raster/cell_window.h"

#include <cstdint>

struct Raster;

// The cells under a box of coordinates and one cell around it, within the
// grid; empty for a box that is empty, NaN or wholly outside.
CellWindow windowForBounds(const GridGeometry &g, double minX, double maxX, double minY, double maxY);

// The cells under records of which `stats` holds the extremes, their
// coordinates scaled as the header says.
CellWindow windowForRecords(const GridGeometry &g, const LAS12Header &h, const lidar::PointStats &stats);

// The cells a run holds before its record loop, for the input open on fd.
// The header bounds are a hint: they serve when their cells can be held and
// cost no more to read than the records (and, for an ASCII grid, which is
// parsed once, when they are the whole grid); otherwise the records are
// measured and only the cells under them are held.
CellWindow cellsForInput(const Raster &raster, const LAS12Header &h, int fd);

// A record from `from` on lies in the grid but outside the cells held (the
// header bounds were stale): the raster lets those cells go and holds the
// cells under the records still to come, measured from the file. When they
// cannot be held, the failure is printed and the run failed.
void holdCellsForRest(Raster &raster, const LAS12Header &h, const char *inName, int fd, uint64_t from);

#endif
