// Builds for processors other than x86-64 have no vector kernel: the
// portable one serves alone.
#include "record_selection.h"

bool vectorKernelAvailable()
{
    return false;
}

size_t selectBlockVector(uint8_t *records, size_t count, size_t len, const Classifier &c, Tally &tally)
{
    return selectBlockPortable(records, count, len, c, tally);
}
