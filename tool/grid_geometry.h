// Where a grid lies and which part of it is held in memory.
#ifndef MORVANE_GRID_GEOMETRY_H
#define MORVANE_GRID_GEOMETRY_H

#include <cstdint>

// The whole grid's shape and place. Row 0 is the southern edge (a file's
// first, northern, row is row rows - 1). The georeference is kept exactly as
// the header gives it: single precision would move a corner at survey
// magnitudes (UTM northings, State Plane feet) by a good part of a unit.
struct GridGeometry {
    int32_t rows = 0;
    int32_t cols = 0;
    double minx = 0.0;  // south-west corner
    double miny = 0.0;
    double cellsize = 0.0;
};

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
    bool operator==(const CellWindow &) const = default;
    bool contains(const CellWindow &w) const
    {
        return rowBegin <= w.rowBegin && w.rowEnd <= rowEnd && colBegin <= w.colBegin && w.colEnd <= colEnd;
    }
};

#endif
