// Where a grid lies.
#ifndef MORVANE_GRID_GEOMETRY_H
#define MORVANE_GRID_GEOMETRY_H

#include <cstdint>

namespace morvane {

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

}  // namespace morvane

#endif
