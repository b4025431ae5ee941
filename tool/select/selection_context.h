// What the classification of point records reads, widened to double once
// per run: the header's scales, the grid, the cells held and the window.
#ifndef MORVANE_SELECTION_CONTEXT_H
#define MORVANE_SELECTION_CONTEXT_H

#include "LiDAR.h"
#include "raster/cell_blocks.h"
#include "raster/cell_window.h"

#include <cstddef>
#include <cstdint>

namespace morvane {

struct Raster;

// The elevation window around a cell's value: from value + low to value + high.
struct Limits {
    double low, high;
};

// Everything the classification reads, widened to double once per run.
struct SelectionContext {
    double xScale, xOffset, yScale, yOffset, zScale, zOffset;
    double minx, miny, cellsize, rows, cols;
    // The cells held: a window of the grid, northern row first; or, where
    // `blocks` holds a directory, the blocks listed there (the window is
    // then the grid, and a cell lies where blockCellIndex says).
    const float *cells;
    CellWindow window;  // where a cell lies among them (CellWindow::indexOf)
    BlockView blocks;
    double rowBegin, rowEnd, colBegin, colEnd;
    int32_t topRow, firstCol;  // the window's northern row, western column
    size_t windowCols;
    float nodata;
    bool nodataIsNaN;  // every NaN cell is NODATA
    double low, high;
    // The cell index is (coordinate - corner) / cellsize. Both kernels
    // multiply by cellsizeInverse instead when the product is always exact
    // (a power-of-two cell size: nearBorder is negative); the vector kernel
    // does so for any other size too and divides only where the product
    // lies within nearBorder of a whole number, where the two could floor
    // differently. There is no inverse (0) when it cannot be trusted at all.
    double cellsizeInverse;
    double nearBorder;

    SelectionContext(const LAS12Header &h, const Raster &raster, Limits limits);
};

}  // namespace morvane

#endif
