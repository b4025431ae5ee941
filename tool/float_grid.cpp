// Binary float grids: 32-bit cells, north row first, with a .hdr beside them.
#include "grid_files.h"

#include "block_size.h"
#include "name_form.h"
#include "run_failure.h"
#include "text_reader.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <string>
#include <unistd.h>

namespace {

[[noreturn]] void shortFile(const Raster &r)
{
    std::printf("\nRaster file %s ends before its %d x %d values\n", r.fileName.c_str(), r.grid().rows, r.grid().cols);
    failRun();
}

// Exactly `bytes` bytes at `offset`, unless the file ends first.
void readAt(const Raster &r, int fd, void *into, size_t bytes, uint64_t offset)
{
    auto *p = static_cast<char *>(into);
    while (bytes != 0) {
        const ssize_t got = ::pread(fd, p, bytes, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            shortFile(r);
        p += got;
        bytes -= static_cast<size_t>(got);
        offset += static_cast<uint64_t>(got);
    }
}

void swapBytes(float *cells, size_t count)
{
    for (size_t k = 0; k < count; ++k)
        cells[k] = std::bit_cast<float>(__builtin_bswap32(std::bit_cast<uint32_t>(cells[k])));
}

}  // namespace

RasterHeader readFloatGridHeader(const char *fltName)
{
    const std::string headerName = lidar::companion_header_name(fltName);
    const lidar::FilePtr hdr = openGridFileOrFail(headerName.c_str(), "r");
    TextReader reader(hdr.get(), 64 * 1024);
    return parseHeaderOrFail(reader, false, headerName.c_str());
}

// Only the window's rows are read, and of each only its columns: a tile's
// cells out of a DEM of any size. When the window spans whole rows they lie
// in the file as one run, read in blocks of about 1 MiB.
void readFloatGridCells(const Raster &r, std::FILE *file, const CellWindow &window, float *cells,
                        const RowProgress &progress)
{
    const GridGeometry &g = r.grid();
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
            float *into = cells + index * windowCols;
            readAt(r, fd, into, run * windowCols * sizeof(float),
                   (fileRow * gridCols + static_cast<uint64_t>(window.colBegin)) * sizeof(float));
            if (r.header.bigEndian)
                swapBytes(into, run * windowCols);
            rowsRead += run;
        }
        progress.row(row);
    }
}
