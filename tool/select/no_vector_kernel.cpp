// Builds for processors other than x86-64 have no vector kernel: the
// portable one serves alone.
#include "select/kernels.h"

namespace morvane {

bool vectorKernelAvailable()
{
    return false;
}

Selection selectRecordsVector(uint8_t *keep, const uint8_t *records, size_t count, size_t len,
                              const SelectionContext &c, Tally &tally)
{
    return selectRecordsPortable(keep, records, count, len, c, tally);
}

}  // namespace morvane
