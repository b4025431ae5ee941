// Which cells of the grid a run holds: those under the input's points,
// found from its header bounds or from the records themselves.
#ifndef MORVANE_CELLS_NEEDED_H
#define MORVANE_CELLS_NEEDED_H

#include "LiDAR.h"
#include "lidar/internal/point_stats.h"
#include "raster/cell_blocks.h"
#include "raster/cell_window.h"
#include "raster/grid_file.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace morvane {

struct Raster;

// The cells a run holds: the window (the box around the points and one cell
// beyond), or, where `blocks` is not empty, only those blocks, the box
// being too large for what it would serve.
struct CellsNeeded {
    CellWindow window;
    std::vector<BlockId> blocks;  // northFirst order, no repeats

    bool blocked() const { return !blocks.empty(); }
};

// The cells under a box of coordinates and one cell around it, within the
// grid; empty for a box that is empty, NaN or wholly outside.
CellWindow windowForBounds(const GridGeometry &g, double minX, double maxX, double minY, double maxY);

// The cells under records of which `stats` holds the extremes, their
// coordinates scaled as the header says.
CellWindow windowForRecords(const GridGeometry &g, const LAS12Header &h, const lidar::PointStats &stats);

// The whole records past the point data's start of the regular file open
// on fd, whatever its header counts; nothing where it is not a regular file.
std::optional<uint64_t> wholeRecordsInFile(const LAS12Header &h, int fd);

// The point records the file open on fd holds of those its header counts:
// fewer where it ends early.
uint64_t recordsInFile(const LAS12Header &h, int fd);

// What records [from, to) of the input open on fd need: the box around
// them (and one cell beyond), or, where that box would cost more than 8 MiB
// beyond the blocks under their points, those blocks. Records that cannot
// all be read need the whole grid. The header is one without a problem
// (lidar::header_problem), as for the two calls below.
CellsNeeded cellsForRecords(const GridGeometry &g, const LAS12Header &h, int fd, uint64_t from, uint64_t to);

// The cells a run holds before its record loop, for the input open on fd.
// The header bounds are a hint: they serve when their cells can be held and
// cost at most a quarter of the records' bytes (and, for an ASCII grid,
// which is parsed once, when they are the whole grid); otherwise the
// records the file holds are read first (cellsForRecords).
CellsNeeded cellsForInput(const Raster &raster, const LAS12Header &h, int fd);

// Holds the cells needed: loadCells or loadBlocks.
void holdCells(Raster &raster, const CellsNeeded &needed, Progress progress);

// A record from `from` on lies in the grid but outside the cells held (the
// header bounds were stale): the raster lets those cells go and holds the
// cells under the records still to come, read from the file. When they
// cannot be held, the failure is printed and the run failed.
void holdCellsForRest(Raster &raster, const LAS12Header &h, const char *inName, int fd, uint64_t from);

}  // namespace morvane

#endif
