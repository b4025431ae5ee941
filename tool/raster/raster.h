// The elevation raster: read once per run, owned by the run driver and
// handed to the record loop.
#ifndef MORVANE_RASTER_H
#define MORVANE_RASTER_H

#include "grid_header/grid_header.h"
#include "raster/cell_block.h"
#include "raster/cell_blocks.h"
#include "raster/cell_window.h"
#include "raster/grid_file.h"

#include "lidar/internal/file_handle.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace morvane {

struct Raster {
    GridFile file;        // which kind, and its file names
    lidar::FilePtr data;  // the grid file, opened once: with the header for an .asc, at the first load for a .flt
    GridHeader header;    // shape, georeference, NODATA, byte order, where an .asc's values begin
    // The cells held: window.rows() x window.cols() of them, in one block
    // laid out as the files hold them (CellWindow::indexOf); or, where
    // `blocks` is not empty, the window is the whole grid and only the
    // blocks listed there are held, each in its slot (blockCellIndex).
    CellWindow window;
    CellBlock cells;
    BlockDirectory blocks;

    const GridGeometry &grid() const { return header.grid; }
    bool ascii() const { return file.ascii(); }
    // A declared NaN NODATA value marks every NaN cell.
    bool nodataIsNaN() const { return header.hasNodata && header.nodata != header.nodata; }
    // A held cell's value.
    float at(int32_t row, int32_t col) const
    {
        return blocks.empty() ? cells[window.indexOf(row, col)]
                              : cells[blockCellIndex(blocks.view().slotOf(row, col), row, col)];
    }
};

// Reads the header of the raster (.asc, or .flt with its .hdr), whose kind
// classifyGridFile has told (neither: refused here), and prints the
// raster's description; holds no cells yet.
Raster openRaster(const GridFile &file);

// Holds exactly the cells of `window`. With progress, prints the reading
// progress lines over the grid's rows. A failure prints its message and
// fails the run.
void loadCells(Raster &raster, const CellWindow &window, Progress progress);

// Holds exactly the blocks listed (any order, no repeats), each read once: the grid's
// rows under them, and of each row only their columns. A failure prints its
// message and fails the run.
void loadBlocks(Raster &raster, std::vector<BlockId> blocks, Progress progress);

// Ends the run where a read of cells held in place faulted: the raster
// file was cut short under the run (the message of a file that ends
// early), or could not be read there.
[[noreturn]] void failCellsCutShort(const Raster &raster);

// Lets the cells held go (before new ones are loaded, so that the two are
// never held at once).
void releaseCells(Raster &raster);

// Whether that many cells, and `otherBytes` besides, could be held in the
// memory this process may still have (memoryThatMayBeHeld).
bool cellsFitInMemory(uint64_t cells, uint64_t otherBytes = 0);
bool cellsFitInMemory(const CellWindow &window);

// What the blocks listed (no repeats) take when held: their cells, and
// the bytes of their directory.
uint64_t blockCellCount(const std::vector<BlockId> &blocks);
uint64_t blockDirectoryBytes(const std::vector<BlockId> &blocks);

// openRaster, then every cell with progress: the whole grid in memory.
Raster readRaster(const char *name);

}  // namespace morvane

#endif
