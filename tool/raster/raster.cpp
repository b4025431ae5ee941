// Opening the elevation raster and holding a window of its cells.
#include "raster/raster.h"

#include "lidar/internal/file_handle.h"
#include "raster/grid_formats.h"
#include "run_failure.h"

#include <cstdint>
#include <cstdio>
#include <new>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

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

// Refuses to hold more cells than the machine has memory for.
void checkFitsInMemory(const Raster &r, const CellWindow &w)
{
    if (!cellsFitInMemory(w))
        failRun("\nRaster %s (%d rows x %d columns) is too large to hold in memory\n", r.file.data.c_str(),
                r.grid().rows, r.grid().cols);
}

CellBlock allocateCells(const CellWindow &w)
{
    CellBlock cells = CellBlock::allocate(static_cast<size_t>(w.cellCount()));
    if (!cells)
        failRun("\nUnable to allocate memory for raster array\n");
    return cells;
}

}  // namespace

bool cellsFitInMemory(const CellWindow &w)
{
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    return pages <= 0 || pageSize <= 0 ||
           w.cellCount() <= static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize) / sizeof(float);
}

Raster openRaster(const char *name, const std::optional<GridFile> &file)
{
    if (!file)
        failRun("\nFile extension of %s should be either \"asc\" or  \"flt\"\n", name);
    Raster r;
    r.file = *file;
    r.header = readGridHeaderOrFail(r.file);
    printDescription(r);
    return r;
}

void loadCells(Raster &r, const CellWindow &window, bool progress)
{
    const lidar::FilePtr file = openGridFileOrFail(r.file.data, r.ascii() ? "r" : "rb");
    checkFileHoldsGrid(r, file.get());
    checkFitsInMemory(r, window);
    if (progress && r.ascii())
        std::printf("\r... Reading raster ...%56s", "");
    else if (progress)
        std::printf("\r... Reading raster ...%55s", "");
    const RowProgress rows(progress, r.ascii(), r.grid().rows);
    CellBlock cells = allocateCells(window);
    if (r.ascii())
        readAsciiGridCells(r.file, r.header, file.get(), window, cells.get(), rows);
    else
        readFloatGridCells(r.file, r.header, file.get(), window, cells.get(), rows);
    r.window = window;
    r.cells = std::move(cells);
}

void releaseCells(Raster &r)
{
    r.cells.reset();
    r.window = {};
}

Raster readRaster(const char *name)
{
    Raster r = openRaster(name, classifyGridFile(name));
    loadCells(r, CellWindow::whole(r.grid()), true);
    return r;
}
