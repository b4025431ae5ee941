#include "select/selection_context.h"

#include "raster/raster.h"

#include <algorithm>
#include <cmath>

namespace morvane {

SelectionContext::SelectionContext(const LAS12Header &h, const Raster &raster, Limits limits)
    : xScale(h.XScaleFactor), xOffset(h.XOffset), yScale(h.YScaleFactor), yOffset(h.YOffset), zScale(h.ZScaleFactor),
      zOffset(h.ZOffset), minx(raster.grid().minx), miny(raster.grid().miny), cellsize(raster.grid().cellsize),
      rows(raster.grid().rows), cols(raster.grid().cols), cells(raster.cells.get()), window(raster.window),
      blocks(raster.blocks.view()), rowBegin(raster.window.rowBegin), rowEnd(raster.window.rowEnd),
      colBegin(raster.window.colBegin), colEnd(raster.window.colEnd), topRow(raster.window.rowEnd - 1),
      firstCol(raster.window.colBegin), windowCols(static_cast<size_t>(raster.window.cols())),
      // Without a declared value no cell is NODATA: NaN equals nothing.
      nodata(raster.header.hasNodata ? raster.header.nodata : std::nanf("")), nodataIsNaN(raster.nodataIsNaN()),
      low(limits.low), high(limits.high), cellsizeInverse(1.0 / cellsize), nearBorder(0.0)
{
    if (!std::isnormal(cellsize) || !std::isnormal(cellsizeInverse)) {
        cellsizeInverse = 0.0;
    } else if (inverseIsExact(cellsize)) {
        // Multiplying by a power of two is exact, as is dividing by one:
        // both round the same real number.
        nearBorder = -1.0;
    } else {
        // The product and the quotient differ by under 3 units in the last
        // place, so by less than (n + 2) * 2^-51 for quotients up to n + 1 in
        // magnitude; beyond that both are outside the grid. Eight times that
        // leaves a margin.
        nearBorder = (std::max(rows, cols) + 2.0) * 0x1p-48;
    }
}

}  // namespace morvane
