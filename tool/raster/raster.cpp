// Opening the elevation raster and holding a window of its cells.
#include "raster/raster.h"

#include "lidar/internal/file_handle.h"
#include "raster/grid_formats.h"
#include "raster/memory_limit.h"
#include "run_failure.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <sys/stat.h>
#include <utility>

namespace morvane {

namespace {

void printDescription(const Raster &r)
{
    const GridGeometry &g = r.grid();
    if (r.ascii())
        std::printf("\rASCII Raster file %s\n", r.file.data.c_str());
    else
        std::printf("\rFloating point raster file %s\n", r.file.data.c_str());
    std::printf("Rows         %15d\n", g.rows);
    std::printf("Columns      %15d\n", g.cols);
    std::printf("SW corner X  %18.2f\n", g.minx);
    std::printf("SW corner Y  %18.2f\n", g.miny);
    if (r.ascii())
        std::printf("Cellsize     %22.6f\n", g.cellsize);
    else
        std::printf("Cellsize     %19.3f\n", g.cellsize);
    if (!r.header.hasNodata)
        std::printf("NODATA value %18s\n\n", "none");
    else
        std::printf("NODATA value %18.2f\n\n", static_cast<double>(r.header.nodata));
}

// Size of a regular file, or -1 when it has none (a pipe, say).
long long regularFileSize(std::FILE *file)
{
    struct stat st {};
    if (::fstat(::fileno(file), &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return static_cast<long long>(st.st_size);
}

// A file too small for the grid is refused before anything is allocated:
// a float cell takes four bytes, a text value at least one character and
// one separator.
void checkFileHoldsGrid(const Raster &r, std::FILE *file)
{
    const GridGeometry &g = r.grid();
    const uint64_t cells = CellWindow::whole(g).cellCount();
    const long long size = regularFileSize(file);
    if (size < 0)
        return;
    const auto bytes = static_cast<uint64_t>(size);
    if (r.ascii() ? bytes + 1 < 2 * cells : bytes < cells * sizeof(float))
        failRun("\nRaster file %s holds fewer than %d x %d values\n", r.file.data.c_str(), g.rows, g.cols);
}

// Refuses to hold more cells than this process may have memory for.
void checkFitsInMemory(const Raster &r, uint64_t cells, uint64_t otherBytes)
{
    if (!cellsFitInMemory(cells, otherBytes))
        failRun("\nRaster %s (%d rows x %d columns) is too large to hold in memory\n", r.file.data.c_str(),
                r.grid().rows, r.grid().cols);
}

CellBlock allocateCells(uint64_t count)
{
    CellBlock cells = CellBlock::allocate(static_cast<size_t>(count));
    if (!cells)
        failRun("\nUnable to allocate memory for raster array\n");
    return cells;
}

// The grid file, opened at the first load of a float grid's cells.
std::FILE *gridData(Raster &r)
{
    if (!r.data)
        r.data = openGridFileOrFail(r.file.data, "rb");
    return r.data.get();
}

// The first progress line, and the row-by-row ones to follow.
RowProgress startProgress(const Raster &r, Progress progress)
{
    if (progress == Progress::Shown && r.ascii())
        std::printf("\r... Reading raster ...%56s", "");
    else if (progress == Progress::Shown)
        std::printf("\r... Reading raster ...%55s", "");
    return RowProgress(progress, r.file.kind, r.grid().rows);
}

}  // namespace

bool cellsFitInMemory(uint64_t cells, uint64_t otherBytes)
{
    const uint64_t available = memoryThatMayBeHeld();
    return otherBytes <= available && cells <= (available - otherBytes) / sizeof(float);
}

bool cellsFitInMemory(const CellWindow &w)
{
    return cellsFitInMemory(w.cellCount());
}

uint64_t blockCellCount(const std::vector<BlockId> &blocks)
{
    return uint64_t{blocks.size()} * kBlockCells;
}

uint64_t blockDirectoryBytes(const std::vector<BlockId> &blocks)
{
    return BlockDirectory::entriesFor(blocks) * sizeof(uint32_t) + blocks.size() * sizeof(BlockId);
}

Raster openRaster(const GridFile &file)
{
    if (file.kind == GridKind::Unknown)
        failRun("\nFile extension of %s should be either \"asc\" or  \"flt\"\n", file.data.c_str());
    Raster r;
    r.file = file;
    if (r.ascii())
        r.data = openGridFileOrFail(r.file.data, "rb");
    r.header = readGridHeaderOrFail(r.file, r.data.get());
    printDescription(r);
    return r;
}

void loadCells(Raster &r, const CellWindow &window, Progress progress)
{
    std::FILE *file = gridData(r);
    checkFileHoldsGrid(r, file);
    checkFitsInMemory(r, window.cellCount(), 0);
    const RowProgress rows = startProgress(r, progress);
    if (!r.ascii()) {
        if (std::optional<CellsInPlace> mapped = mapFloatGridCells(r.header, file, window, rows)) {
            r.window = mapped->window;
            r.cells = std::move(mapped->cells);
            return;
        }
    }
    CellBlock cells = allocateCells(window.cellCount());
    if (r.ascii())
        readAsciiGridCells(r.file, r.header, file, window, cells.get(), rows);
    else
        readFloatGridCells(r.file, r.header, file, window, cells.get(), rows);
    r.window = window;
    r.cells = std::move(cells);
}

void loadBlocks(Raster &r, std::vector<BlockId> blocks, Progress progress)
{
    std::FILE *file = gridData(r);
    checkFileHoldsGrid(r, file);
    checkFitsInMemory(r, blockCellCount(blocks), blockDirectoryBytes(blocks));
    const RowProgress rows = startProgress(r, progress);
    BlockDirectory directory(std::move(blocks));
    CellBlock cells = allocateCells(blockCellCount(directory.blocks()));
    if (r.ascii())
        readAsciiGridBlocks(r.file, r.header, file, directory, cells.get(), rows);
    else
        readFloatGridBlocks(r.file, r.header, file, directory, cells.get(), rows);
    r.window = CellWindow::whole(r.grid());
    r.blocks = std::move(directory);
    r.cells = std::move(cells);
}

void failCellsCutShort(const Raster &r)
{
    // Cut short since it was checked, or else unreadable where it lies.
    struct stat st {};
    const GridGeometry &g = r.grid();
    const int statted = r.data ? ::fstat(::fileno(r.data.get()), &st) : ::stat(r.file.data.c_str(), &st);
    if (statted == 0 &&
        static_cast<uint64_t>(st.st_size) < CellWindow::whole(g).cellCount() * sizeof(float))
        failRun("\nRaster file %s ends before its %d x %d values\n", r.file.data.c_str(), g.rows, g.cols);
    failRun("\nCannot read raster file %s: %s\n", r.file.data.c_str(), std::strerror(EIO));
}

void releaseCells(Raster &r)
{
    r.cells.reset();
    r.blocks = {};
    r.window = {};
}

Raster readRaster(const char *name)
{
    Raster r = openRaster(classifyGridFile(name));
    loadCells(r, CellWindow::whole(r.grid()), Progress::Shown);
    return r;
}

}  // namespace morvane
