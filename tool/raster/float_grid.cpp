// Binary float grids: 32-bit cells, north row first, with a .hdr beside them.
#include "raster/grid_formats.h"

#include "lidar/internal/block_size.h"
#include "lidar/internal/read_at.h"
#include "run_failure.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace morvane {

namespace {

// Exactly `bytes` bytes at `offset`, unless the file ends or fails first.
void readAt(const GridFile &f, const GridGeometry &g, int fd, void *into, size_t bytes, uint64_t offset)
{
    const lidar::ReadResult read = lidar::read_at(fd, into, bytes, offset);
    if (read.bytes == bytes)
        return;
    if (read.error != 0)
        failRun("\nCannot read raster file %s: %s\n", f.data.c_str(), std::strerror(read.error));
    failRun("\nRaster file %s ends before its %d x %d values\n", f.data.c_str(), g.rows, g.cols);
}

void swapBytes(float *cells, size_t count)
{
    for (size_t k = 0; k < count; ++k)
        cells[k] = std::bit_cast<float>(__builtin_bswap32(std::bit_cast<uint32_t>(cells[k])));
}

}  // namespace

std::optional<CellsInPlace> mapFloatGridCells(const GridHeader &h, std::FILE *file, const CellWindow &window,
                                              const RowProgress &progress)
{
    const GridGeometry &g = h.grid;
    struct stat st {};
    if (h.bigEndian || std::endian::native != std::endian::little || window.cellCount() == 0 ||
        ::fstat(::fileno(file), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    // The window's rows whole: one run of the file, its northern row first.
    const CellWindow rows{window.rowBegin, window.rowEnd, 0, g.cols};
    const uint64_t firstRow = static_cast<uint64_t>(g.rows - window.rowEnd);
    CellBlock cells = CellBlock::mapFile(::fileno(file), firstRow * static_cast<uint64_t>(g.cols) * sizeof(float),
                                         static_cast<size_t>(rows.cellCount()));
    if (!cells)
        return std::nullopt;
    for (int32_t row = g.rows - 1; row >= 0; --row)
        progress.row(row);
    return CellsInPlace{rows, std::move(cells)};
}

// Only the window's rows are read, and of each only its columns: a tile's
// cells out of a DEM of any size. When the window spans whole rows they lie
// in the file as one run, read in blocks of about 1 MiB.
void readFloatGridCells(const GridFile &f, const GridHeader &h, std::FILE *file, const CellWindow &window, float *cells,
                        const RowProgress &progress)
{
    const GridGeometry &g = h.grid;
    const int fd = ::fileno(file);
    const auto gridCols = static_cast<uint64_t>(g.cols);
    const auto windowCols = static_cast<size_t>(window.cols());
    const bool wholeRows = window.cols() == g.cols;
    const size_t rowsPerRead = wholeRows ? std::max<size_t>(1, lidar::kBlockBytes / (windowCols * sizeof(float))) : 1;
    size_t rowsRead = 0;  // of the window, from its northern row
    for (int32_t row = g.rows - 1; row >= 0; --row) {
        const auto index = static_cast<size_t>(window.rowEnd - 1 - row);  // in the window
        if (window.containsRow(row) && index == rowsRead) {
            const size_t run = std::min(rowsPerRead, static_cast<size_t>(window.rows()) - index);
            const uint64_t fileRow = static_cast<uint64_t>(g.rows - 1 - row);
            float *into = cells + window.rowStart(row);
            readAt(f, g, fd, into, run * windowCols * sizeof(float),
                   (fileRow * gridCols + static_cast<uint64_t>(window.colBegin)) * sizeof(float));
            if (h.bigEndian)
                swapBytes(into, run * windowCols);
            rowsRead += run;
        }
        progress.row(row);
    }
}

// Each grid row under held blocks is read once per run of blocks side by
// side, into a row of the run's columns, and handed out to the blocks.
void readFloatGridBlocks(const GridFile &f, const GridHeader &h, std::FILE *file, const BlockDirectory &blocks,
                         float *cells, const RowProgress &progress)
{
    const GridGeometry &g = h.grid;
    const int fd = ::fileno(file);
    const std::vector<BlockId> &list = blocks.blocks();
    BlockRuns runs(list);
    std::vector<float> row;
    for (int32_t r = g.rows - 1; r >= 0; --r) {
        const uint64_t fileRow = static_cast<uint64_t>(g.rows - 1 - r);
        for (const BlockRun &run : runs.under(r)) {
            const int32_t colBegin = blockStart(list[run.first].col), colEnd = blockEnd(list[run.end - 1].col, g.cols);
            const auto count = static_cast<size_t>(colEnd - colBegin);
            row.resize(count);
            readAt(f, g, fd, row.data(), count * sizeof(float),
                   (fileRow * static_cast<uint64_t>(g.cols) + static_cast<uint64_t>(colBegin)) * sizeof(float));
            if (h.bigEndian)
                swapBytes(row.data(), count);
            for (size_t k = run.first; k < run.end; ++k) {
                const int32_t start = blockStart(list[k].col);
                std::copy(row.begin() + (start - colBegin), row.begin() + (blockEnd(list[k].col, g.cols) - colBegin),
                          cells + blockCellIndex(static_cast<uint32_t>(k), r, start));
            }
        }
        progress.row(r);
    }
}

}  // namespace morvane
