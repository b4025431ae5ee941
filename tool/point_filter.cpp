#include "point_filter.h"

#include "record_selection.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// Records are read, classified and written in blocks of 1 MiB: large reads
// and writes, and a block stays in the L2 cache from its read to its write.
constexpr size_t kBlockBytes = size_t{1} << 20;

}  // namespace

FilterResult filterPoints(std::FILE *in, std::FILE *out, const LAS12Header &header,
                          double lowLimit, double highLimit)
{
    FilterResult result;
    const Classifier c(header, lowLimit, highLimit);
    const uint32_t n = header.NumberOfPointReturns;
    const size_t len = header.PointDataRecordLength;

    // Progress about every 1 % of the records; below 100 records only the
    // first one reports.
    uint32_t reportStep = static_cast<uint32_t>(std::floor(n * 0.01));
    if (reportStep == 0)
        reportStep = n * 100;
    uint64_t nextReport = 0;

    const size_t perBlock = std::max<size_t>(1, kBlockBytes / len);
    std::vector<uint8_t> block(std::min<size_t>(perBlock, n) * len);
    uint64_t done = 0;
    while (done < n) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(perBlock, n - done));
        const size_t got = std::fread(block.data(), len, want, in);
        const size_t kept = selectBlock(block.data(), got, len, c, result.tally);
        // A block's progress lines, as a record-by-record loop prints them.
        for (; nextReport < done + got; nextReport += reportStep) {
            std::printf("... processing ... ( %u%% done )\r", static_cast<uint32_t>(nextReport / reportStep));
            std::fflush(stdout);
        }
        done += got;
        result.tally.in += static_cast<uint32_t>(kept);
        result.written.add(block.data(), kept, len);
        if (kept != 0 && std::fwrite(block.data(), len, kept, out) != kept) {
            result.status = FilterStatus::WriteError;
            break;
        }
        if (got != want) {
            result.status = std::ferror(in) ? FilterStatus::ReadError : FilterStatus::ShortInput;
            break;
        }
    }
    result.recordsRead = static_cast<uint32_t>(done);
    return result;
}
