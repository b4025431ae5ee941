#include "select/record_loop.h"

#include "lidar/internal/block_size.h"
#include "raster/cells_needed.h"
#include "select/kernels.h"

#include <algorithm>
#include <cerrno>
#include <vector>

namespace morvane {

namespace {

// The vector kernel where the processor has it: same result, bit for bit.
Selection selectRecords(uint8_t *keep, const uint8_t *records, size_t count, size_t len, const SelectionContext &c,
                        Tally &tally)
{
    static const bool vector = vectorKernelAvailable();
    return vector ? selectRecordsVector(keep, records, count, len, c, tally)
                  : selectRecordsPortable(keep, records, count, len, c, tally);
}

}  // namespace

PointSelection selectPoints(std::FILE *in, std::FILE *out, const char *inName, const LAS12Header &header,
                            Raster &raster, Limits limits)
{
    PointSelection result;
    SelectionContext c(header, raster, limits);
    const uint32_t n = header.NumberOfPointReturns;
    const size_t len = header.PointDataRecordLength;

    // Progress about every 1 % of the records; below 100 records only the
    // first one reports.
    const uint64_t reportStep = progressStep(n, 0.01);
    uint64_t nextReport = 0;

    const size_t perBlock = std::max<size_t>(1, lidar::kBlockBytes / len);
    std::vector<uint8_t> block(std::min<size_t>(perBlock, n) * len);
    uint64_t done = 0;
    while (done < n) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(perBlock, n - done));
        const size_t got = std::fread(block.data(), len, want, in);
        const int readError = errno;
        Selection s = selectRecords(block.data(), block.data(), got, len, c, result.tally);
        // A point outside the cells held: hold what the rest needs, go on.
        while (s.classified < got) {
            holdCellsForRest(raster, header, inName, ::fileno(in), done + s.classified);
            c = SelectionContext(header, raster, limits);
            const Selection rest = selectRecords(s.keptEnd, block.data() + s.classified * len, got - s.classified, len,
                                                 c, result.tally);
            s = {rest.keptEnd, s.classified + rest.classified};
        }
        const auto kept = static_cast<size_t>(s.keptEnd - block.data()) / len;
        // A block's progress lines, as a record-by-record loop prints them.
        for (; nextReport < done + got; nextReport += reportStep) {
            std::printf("... processing ... ( %u%% done )\r", static_cast<uint32_t>(nextReport / reportStep));
            std::fflush(stdout);
        }
        done += got;
        result.tally.selected += static_cast<uint32_t>(kept);
        result.written.add(block.data(), kept, len);
        if (kept != 0 && std::fwrite(block.data(), len, kept, out) != kept) {
            result.status = LoopStatus::WriteError;
            result.error = errno;
            break;
        }
        if (got != want) {
            result.status = std::ferror(in) ? LoopStatus::ReadError : LoopStatus::ShortInput;
            result.error = readError;
            break;
        }
    }
    result.recordsRead = static_cast<uint32_t>(done);
    return result;
}

}  // namespace morvane
