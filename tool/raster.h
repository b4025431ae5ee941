// The elevation raster: read once per run, owned by the run driver and
// handed to the record loop.
#ifndef MORVANE_RASTER_H
#define MORVANE_RASTER_H

#include "grid_geometry.h"
#include "raster_header.h"

#include <cstddef>
#include <memory>
#include <string>

struct Raster {
    std::string fileName;
    bool ascii = false;   // an ASCII grid, else a binary float grid
    RasterHeader header;  // shape, georeference, NODATA, byte order
    // The cells held: window.rows() x window.cols() of them, in one block
    // laid out as the files hold them, the window's northern row first and
    // each row from west to east.
    CellWindow window;
    std::unique_ptr<float[]> cells;

    const GridGeometry &grid() const { return header.grid; }
    // A declared NaN NODATA value marks every NaN cell.
    bool nodataIsNaN() const { return header.hasNodata && header.nodata != header.nodata; }
    float at(int32_t row, int32_t col) const
    {
        return cells[static_cast<size_t>(window.rowEnd - 1 - row) * static_cast<size_t>(window.cols()) +
                     static_cast<size_t>(col - window.colBegin)];
    }
};

// Reads the header of the raster named (.asc, or .flt with its .hdr) and
// prints the raster's description; holds no cells yet.
Raster openRaster(const char *name);

// Holds exactly the cells of `window`. With progress, prints the reading
// progress lines over the grid's rows. A failure prints its message and
// throws RunFailure.
void loadCells(Raster &raster, const CellWindow &window, bool progress);

// Lets the cells held go (before a new window is loaded, so that the two are
// never held at once).
void releaseCells(Raster &raster);

// Whether that many cells could be held in the machine's memory at all.
bool cellsFitInMemory(const CellWindow &window);

// openRaster, then every cell with progress: the whole grid in memory.
Raster readRaster(const char *name);

#endif
