// The judgment of a header read for a pass over its records, made silently
// and printed by the caller at its moment.
#include "lidar/internal/header_read.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Judged {
    const char *label;
    bool whole;
    uint32_t offsetToData;
    uint16_t recordLength;
    std::string problem;
};

TEST(HeaderProblem, NamesTheFileAndTheFieldAtFault)
{
    const Judged cases[] = {
        {"sound", true, 227, 20, ""},
        {"sound, with VLRs and longer records", true, 4096, 34, ""},
        {"short file", false, 227, 20, "\nFile tile 7.las is too short to hold a LAS header\n"},
        {"offset inside the header", true, 226, 20,
         "\nOffsetToData of tile 7.las (226) lies inside the 227-byte header\n"},
        {"offset zero", true, 0, 28, "\nOffsetToData of tile 7.las (0) lies inside the 227-byte header\n"},
        {"records shorter than a point", true, 227, 19,
         "\nPoint record length of tile 7.las (19 bytes) is shorter than a LAS point record\n"},
        {"offset judged before length", true, 100, 0,
         "\nOffsetToData of tile 7.las (100) lies inside the 227-byte header\n"},
    };
    for (const Judged &c : cases) {
        SCOPED_TRACE(c.label);
        LAS12Header h{};
        h.OffsetToData = c.offsetToData;
        h.PointDataRecordLength = c.recordLength;
        EXPECT_EQ(lidar::header_problem(h, c.whole, "tile 7.las"), c.problem);
    }
}

}  // namespace
