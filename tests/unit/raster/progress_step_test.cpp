// The interval between progress reports, shared by the raster's rows and
// the record loop.
#include "raster/grid_file.h"

#include <gtest/gtest.h>

using namespace morvane;

namespace {

TEST(ProgressStep, OneReportPerShareOrOnlyTheFirstItem)
{
    const struct {
        uint64_t count;
        double share;
        uint64_t step;
    } cases[] = {
        {1, 0.01, 100},
        {99, 0.01, 9900},
        {100, 0.01, 1},
        {150, 0.01, 1},
        {1000, 0.01, 10},
        {49, 0.02, 4900},
        {50, 0.02, 1},
        {9, 0.1, 900},
        {4000, 0.1, 400},
        {20000000, 0.01, 200000},
        {4294967295u, 0.01, 42949672},
    };
    for (const auto &c : cases)
        EXPECT_EQ(progressStep(c.count, c.share), c.step) << c.count << " at " << c.share;
}

}  // namespace
