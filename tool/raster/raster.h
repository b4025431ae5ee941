// The elevation raster: read once per run, owned by the run driver and
// handed to the record loop.
#ifndef MORVANE_RASTER_H
#define MORVANE_RASTER_H

#include "grid_header/raster_header.h"
#include "raster/cell_block.h"
#include "raster/cell_window.h"
#include "raster/grid_file.h"

#include <cstddef>
#include <optional>

struct Raster {
    GridFile file;        // which kind, and its file names
    RasterHeader header;  // shape, georeference, NODATA, byte order, where an .asc's values begin
    // The cells held: window.rows() x window.cols() of them, in one block
    // laid out as the files hold them (CellWindow::indexOf).
    CellWindow window;
    CellBlock cells;

    const GridGeometry &grid() const { return header.grid; }
    bool ascii() const { return file.ascii; }
    // A declared NaN NODATA value marks every NaN cell.
    bool nodataIsNaN() const { return header.hasNodata && header.nodata != header.nodata; }
    float at(int32_t row, int32_t col) const { return cells[window.indexOf(row, col)]; }
};

// Reads the header of the raster named (.asc, or .flt with its .hdr), whose
// kind classifyGridFile has told (nullopt: neither, refused here), and
// prints the raster's description; holds no cells yet.
Raster openRaster(const char *name, const std::optional<GridFile> &file);

// Holds exactly the cells of `window`. With progress, prints the reading
// progress lines over the grid's rows. A failure prints its message and
// fails the run.
void loadCells(Raster &raster, const CellWindow &window, bool progress);

// Lets the cells held go (before a new window is loaded, so that the two are
// never held at once).
void releaseCells(Raster &raster);

// Whether that many cells could be held in the machine's memory at all.
bool cellsFitInMemory(const CellWindow &window);

// openRaster, then every cell with progress: the whole grid in memory.
Raster readRaster(const char *name);

#endif
