// The four tally lines printed after the record loop.
#ifndef MORVANE_TALLY_REPORT_H
#define MORVANE_TALLY_REPORT_H

#include "select/tally.h"

#include <cstdint>

// Each count with its share of the n input points; an empty input shows
// 0.00 % rather than a division by zero.
void printTally(const Tally &t, uint32_t n);

#endif
