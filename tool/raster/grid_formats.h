// The two raster file kinds' cells: each fills the cells of a window from
// the grid file, opened by the loader, given the file's parsed header.
#ifndef MORVANE_GRID_FORMATS_H
#define MORVANE_GRID_FORMATS_H

#include "grid_header/grid_header.h"
#include "raster/cell_block.h"
#include "raster/cell_blocks.h"
#include "raster/cell_window.h"
#include "raster/grid_file.h"

#include <cstdio>
#include <optional>

namespace morvane {

// Fill `cells` (window.rows() x window.cols(), northern row first); a
// failure prints its message and fails the run.
void readAsciiGridCells(const GridFile &f, const GridHeader &h, std::FILE *file, const CellWindow &window, float *cells,
                        const RowProgress &progress);
void readFloatGridCells(const GridFile &f, const GridHeader &h, std::FILE *file, const CellWindow &window, float *cells,
                        const RowProgress &progress);

// A little-endian float grid's cells read where they lie in a regular
// file: the window's rows whole, mapped read-only (the window held is then
// those rows), with the progress lines of a read. None where the file is
// not regular, the grid or the processor big-endian, or the mapping fails:
// the cells are then read as before.
struct CellsInPlace {
    CellWindow window;
    CellBlock cells;
};
std::optional<CellsInPlace> mapFloatGridCells(const GridHeader &h, std::FILE *file, const CellWindow &window,
                                              const RowProgress &progress);

// Fill the blocks of `blocks`, each in its slot (blockCellIndex).
void readAsciiGridBlocks(const GridFile &f, const GridHeader &h, std::FILE *file, const BlockDirectory &blocks,
                         float *cells, const RowProgress &progress);
void readFloatGridBlocks(const GridFile &f, const GridHeader &h, std::FILE *file, const BlockDirectory &blocks,
                         float *cells, const RowProgress &progress);

}  // namespace morvane

#endif
