// What the vector kernels share around their groups of records: which
// blocks they take, how a group's selected records are kept, and the
// portable kernel for what follows the last whole group.
#ifndef MORVANE_VECTOR_GROUPS_H
#define MORVANE_VECTOR_GROUPS_H

#include "select/kernels.h"
#include "select/record_copy.h"

#include <cstddef>
#include <cstdint>

namespace morvane {

// A vector kernel's loop over whole groups of records of one length.
using GroupLoop = Selection (*)(uint8_t *kept, const uint8_t *records, size_t count, const SelectionContext &c,
                                Tally &tally);

// The loops for records of 20, 26, 28 and 34 bytes.
struct GroupLoops {
    GroupLoop len20, len26, len28, len34;
};

// A block through the loop for its record length. A cell size whose
// inverse cannot stand in for it, cells held as blocks and other record
// lengths: the portable kernel serves.
inline Selection selectInGroups(const GroupLoops &loops, uint8_t *keep, const uint8_t *records, size_t count,
                                size_t len, const SelectionContext &c, Tally &tally)
{
    if (c.cellsizeInverse == 0.0 || c.blocks.held())
        return selectRecordsPortable(keep, records, count, len, c, tally);
    switch (len) {
    case 20: return loops.len20(keep, records, count, c, tally);
    case 26: return loops.len26(keep, records, count, c, tally);
    case 28: return loops.len28(keep, records, count, c, tally);
    case 34: return loops.len34(keep, records, count, c, tally);
    default: return selectRecordsPortable(keep, records, count, len, c, tally);
    }
}

// Every record of a group of Size copied, kept advancing only over the
// selected ones (bit i for record i): no branch on a test that goes either
// way at random.
template <size_t Len, size_t Size>
inline uint8_t *keepSelected(uint8_t *kept, const uint8_t *group, unsigned selected)
{
#pragma GCC unroll 8
    for (size_t i = 0; i < Size; ++i) {
        copyRecord<Len>(kept, group + i * Len);
        kept += ((selected >> i) & 1u) * Len;
    }
    return kept;
}

// After the first `done` records went in groups: their counts into the
// tally, the rest to the portable kernel, which stops at a record in the
// grid outside the cells held.
template <size_t Len>
inline Selection finishGroups(uint8_t *kept, const uint8_t *records, size_t done, size_t count,
                              const SelectionContext &c, Tally &tally, uint32_t outside, uint32_t onNodata)
{
    tally.outside += outside;
    tally.onNodata += onNodata;
    const Selection rest = selectRecordsPortable(kept, records + done * Len, count - done, Len, c, tally);
    return {rest.keptEnd, done + rest.classified};
}

}  // namespace morvane

#endif
