#include "raster/cells_needed.h"

#include "raster/raster.h"
#include "lidar/internal/record_extent.h"
#include "run_failure.h"

#include <algorithm>
#include <cmath>

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

// The cells under records [from, n) of the input open on fd, measured from
// the file; records that cannot all be read cannot be measured, and the
// whole grid serves.
CellWindow measuredWindow(const GridGeometry &g, const LAS12Header &h, int fd, uint64_t from)
{
    const lidar::RecordExtent extent = lidar::measure_records(fd, h, from);
    return extent.complete ? windowForRecords(g, h, extent.stats) : CellWindow::whole(g);
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

CellWindow cellsForInput(const Raster &raster, const LAS12Header &h, int fd)
{
    if (h.NumberOfPointReturns == 0 || h.PointDataRecordLength < sizeof(LAS12fm0))
        return {};
    const GridGeometry &g = raster.grid();
    const CellWindow whole = CellWindow::whole(g);
    const CellWindow hinted = windowForBounds(g, h.MinX, h.MaxX, h.MinY, h.MaxY);
    // Stale or inflated bounds must not set the memory: cells that would
    // cost more to read than the records are worth measuring the records
    // for first. An ASCII grid is parsed once, so its window must be the
    // points' own unless it is the whole grid anyway.
    const uint64_t cellBytes = hinted.cellCount() * sizeof(float);
    const uint64_t recordBytes = uint64_t{h.NumberOfPointReturns} * h.PointDataRecordLength;
    if (cellsFitInMemory(hinted) && cellBytes <= recordBytes && (!raster.ascii() || hinted == whole))
        return hinted;
    return measuredWindow(g, h, fd, 0);
}

void holdCellsForRest(Raster &raster, const LAS12Header &h, const char *inName, int fd, uint64_t from)
{
    CellWindow needed = measuredWindow(raster.grid(), h, fd, from);
    // A point outside the cells held must be among those measured:
    // otherwise the file changed under the run, and the whole grid serves.
    if (raster.window.contains(needed))
        needed = CellWindow::whole(raster.grid());
    releaseCells(raster);
    if (!cellsFitInMemory(needed))
        failRun("\nThe header bounds of %s (X %.3f to %.3f, Y %.3f to %.3f) do not cover its points, and the "
                "%d x %d raster cells under them are too many to hold in memory\n",
                inName, h.MinX, h.MaxX, h.MinY, h.MaxY, needed.rows(), needed.cols());
    loadCells(raster, needed, false);
}
