// Which part of a grid is held in memory, and where its cells lie.
#ifndef MORVANE_CELL_WINDOW_H
#define MORVANE_CELL_WINDOW_H

#include "grid_header/grid_geometry.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace morvane {

// Rows and columns of a grid as half-open ranges counted from its
// south-west corner.
struct CellWindow {
    int32_t rowBegin = 0, rowEnd = 0;
    int32_t colBegin = 0, colEnd = 0;

    static CellWindow whole(const GridGeometry &g) { return {0, g.rows, 0, g.cols}; }
    int32_t rows() const { return rowEnd - rowBegin; }
    int32_t cols() const { return colEnd - colBegin; }
    uint64_t cellCount() const
    {
        return static_cast<uint64_t>(static_cast<uint32_t>(rows())) * static_cast<uint32_t>(cols());
    }
    bool containsRow(int32_t r) const { return rowBegin <= r && r < rowEnd; }
    // Where the cell of grid row `row` and column `col` lies in a block
    // holding this window's cells as the files hold them: the window's
    // northern row first, each row from west to east.
    size_t rowStart(int32_t row) const
    {
        return static_cast<size_t>(rowEnd - 1 - row) * static_cast<size_t>(static_cast<uint32_t>(cols()));
    }
    size_t indexOf(int32_t row, int32_t col) const { return rowStart(row) + static_cast<size_t>(col - colBegin); }
    bool operator==(const CellWindow &) const = default;
    bool contains(const CellWindow &w) const
    {
        return rowBegin <= w.rowBegin && w.rowEnd <= rowEnd && colBegin <= w.colBegin && w.colEnd <= colEnd;
    }
};

// Whether multiplying by the inverse of the cell size gives the quotient by
// it exactly, as it does for a power of two (both round the same real).
inline bool inverseIsExact(double cellsize)
{
    int exponent = 0;
    return std::isnormal(cellsize) && std::isnormal(1.0 / cellsize) && std::frexp(cellsize, &exponent) == 0.5;
}

}  // namespace morvane

#endif
