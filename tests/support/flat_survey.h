// The survey the batch tests run: a flat DEM at UTM magnitudes and tiles of
// 50 points over it.
#ifndef TESTS_SUPPORT_FLAT_SURVEY_H
#define TESTS_SUPPORT_FLAT_SURVEY_H

#include "grid_builder.h"
#include "las_builder.h"
#include "test_files.h"

#include <cstdint>
#include <string>
#include <vector>

namespace test_support {

// A 100 x 100 DEM of 1 m cells at (500000, 4500000), 10 m high, written as
// dem.flt and dem.hdr in dir.
inline void writeFlatDem(const TempDir &dir)
{
    TestGrid dem;
    dem.rows = dem.cols = 100;
    dem.minx = 500000;
    dem.miny = 4500000;
    dem.south.assign(100 * 100, 10.0f);
    dem.write(dir, GridForm::FloatEhdr, "dem");
}

// The tiles' layout: centimetres from the DEM's corner.
inline LasSpec flatSurveyLayout()
{
    LasSpec layout;
    layout.offset[0] = 500000;
    layout.offset[1] = 4500000;
    return layout;
}

// 50 points from (x0, y0) in 1/100 m, z, z + 1 m and z + 2 m in turn: over
// the DEM, z 1500 is 5 to 7 m above it, 900 lies below a window of 2 to 30 m.
inline std::vector<Point> flatSurveyTile(int32_t x0, int32_t y0, int32_t z)
{
    std::vector<Point> points;
    for (int32_t i = 0; i < 50; ++i)
        points.push_back({x0 + i * 97 % 4000, y0 + i * 61 % 4000, z + i % 3 * 100, 1});
    return points;
}

}  // namespace test_support

#endif
