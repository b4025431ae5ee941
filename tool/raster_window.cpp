#include "raster_window.h"

#include "block_size.h"
#include "raster.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <unistd.h>
#include <vector>

namespace {

// Cells [first, last] of one axis widened by one on each side, clamped to
// [0, n); false when nothing is left. The quotient is the record loop's, so
// a point's own cell is always inside when its coordinate is.
bool axisRange(double low, double high, double corner, double cellsize, int32_t n, int32_t &begin, int32_t &end)
{
    const double first = std::floor((low - corner) / cellsize) - 1.0;
    const double last = std::floor((high - corner) / cellsize) + 1.0;
    if (!(first <= last) || last < 0.0 || first >= n)  // NaN fails the first test
        return false;
    begin = static_cast<int32_t>(std::max(first, 0.0));
    end = static_cast<int32_t>(std::min(last + 1.0, static_cast<double>(n)));
    return true;
}

}  // namespace

CellWindow windowForBounds(const GridGeometry &g, double minX, double maxX, double minY, double maxY)
{
    CellWindow w;
    if (!axisRange(minX, maxX, g.minx, g.cellsize, g.cols, w.colBegin, w.colEnd) ||
        !axisRange(minY, maxY, g.miny, g.cellsize, g.rows, w.rowBegin, w.rowEnd))
        return {};
    return w;
}

CellWindow windowForRecords(const GridGeometry &g, const LAS12Header &h, const lidar::PointStats &stats)
{
    if (stats.count == 0)
        return {};
    // A negative scale turns the stored extremes around.
    const double x0 = stats.minX * h.XScaleFactor + h.XOffset, x1 = stats.maxX * h.XScaleFactor + h.XOffset;
    const double y0 = stats.minY * h.YScaleFactor + h.YOffset, y1 = stats.maxY * h.YScaleFactor + h.YOffset;
    return windowForBounds(g, std::fmin(x0, x1), std::fmax(x0, x1), std::fmin(y0, y1), std::fmax(y0, y1));
}

RecordExtent measureRecords(int fd, const LAS12Header &h, uint64_t from)
{
    const size_t len = h.PointDataRecordLength;
    std::vector<uint8_t> block(std::max<size_t>(1, lidar::kBlockBytes / len) * len);
    RecordExtent extent;
    uint64_t offset = h.OffsetToData + from * len;
    // The header's records only: bytes after them are no points.
    for (uint64_t left = h.NumberOfPointReturns > from ? h.NumberOfPointReturns - from : 0; left != 0;) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(left, block.size() / len)) * len;
        const ssize_t got = ::pread(fd, block.data(), want, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR)
            continue;
        const size_t whole = got > 0 ? static_cast<size_t>(got) / len : 0;
        if (whole == 0) {
            extent.complete = false;
            break;
        }
        extent.stats.add(block.data(), whole, len);
        offset += whole * len;
        left -= whole;
    }
    return extent;
}

CellWindow cellsForInput(const GridGeometry &g, const LAS12Header &h, int fd, bool parsedWhole)
{
    if (h.NumberOfPointReturns == 0 || h.PointDataRecordLength < sizeof(LAS12fm0))
        return {};
    const CellWindow whole = CellWindow::whole(g);
    const CellWindow hinted = windowForBounds(g, h.MinX, h.MaxX, h.MinY, h.MaxY);
    // Stale or inflated bounds must not set the memory: cells that would
    // cost more to read than the records are worth measuring the records
    // for first. An ASCII grid is parsed once, so its window must be the
    // points' own unless it is the whole grid anyway.
    const uint64_t cellBytes = hinted.cellCount() * sizeof(float);
    const uint64_t recordBytes = uint64_t{h.NumberOfPointReturns} * h.PointDataRecordLength;
    if (cellsFitInMemory(hinted) && cellBytes <= recordBytes && (!parsedWhole || hinted == whole))
        return hinted;
    const RecordExtent extent = measureRecords(fd, h, 0);
    return extent.complete ? windowForRecords(g, h, extent.stats) : whole;
}
