#include "select/tally.h"

#include <cstdio>

namespace morvane {

namespace {

double share(uint32_t count, uint32_t n)
{
    return n != 0 ? count * 100.0 / n : 0.0;
}

}  // namespace

void printTally(const Tally &t, uint32_t n)
{
    const uint32_t notSelected = n - t.selected - t.onNodata - t.outside;
    std::putchar('\r');
    std::printf("%28u points ( %.2f%% of input) meet selection criteria\n", t.selected, share(t.selected, n));
    std::printf("%28u points ( %.2f%% of input) do not\n", notSelected, share(notSelected, n));
    std::printf("%28u points ( %.2f%% of input) on NODATA raster cells\n", t.onNodata, share(t.onNodata, n));
    std::printf("%28u points ( %.2f%% of input) outside the raster\n\n", t.outside, share(t.outside, n));
}

}  // namespace morvane
