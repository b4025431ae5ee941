#include "select/tally_report.h"

#include <cstdio>

namespace {

void printShare(const char *format, uint32_t count, uint32_t n)
{
    const double share = n != 0 ? count * 100.0 / n : 0.0;
    std::printf(format, count, share);
}

}  // namespace

void printTally(const Tally &t, uint32_t n)
{
    const uint32_t notSelected = n - t.selected - t.onNodata - t.outside;
    std::putchar('\r');
    printShare("%28u points ( %.2f%% of input) meet selection criteria\n", t.selected, n);
    printShare("%28u points ( %.2f%% of input) do not\n", notSelected, n);
    printShare("%28u points ( %.2f%% of input) on NODATA raster cells\n", t.onNodata, n);
    printShare("%28u points ( %.2f%% of input) outside the raster\n\n", t.outside, n);
}
