#include "raster_window.h"

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

CellWindow cover(const CellWindow &a, const CellWindow &b)
{
    if (a.cellCount() == 0)
        return b;
    if (b.cellCount() == 0)
        return a;
    return {std::min(a.rowBegin, b.rowBegin), std::max(a.rowEnd, b.rowEnd), std::min(a.colBegin, b.colBegin),
            std::max(a.colEnd, b.colEnd)};
}
