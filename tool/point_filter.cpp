#include "point_filter.h"

#include "block_size.h"

#include "raster_window.h"
#include "record_selection.h"
#include "run_failure.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <vector>

namespace {

using lidar::kBlockBytes;

// Makes the raster hold the cells the rest of the input needs, measured
// from the records themselves; the cells held so far are let go first.
void holdCellsForRest(std::FILE *in, const char *inName, const LAS12Header &h, uint64_t from, Raster &raster)
{
    const RecordExtent rest = measureRecords(::fileno(in), h, from);
    CellWindow needed = windowForRecords(raster.grid(), h, rest.stats);
    // Records that could not all be read again cannot be measured, and a
    // point outside the cells held must be among those measured: otherwise
    // the file changed under the run. Either way the whole grid serves.
    if (!rest.complete || raster.window.contains(needed))
        needed = CellWindow::whole(raster.grid());
    releaseCells(raster);
    if (!cellsFitInMemory(needed)) {
        std::printf("\nThe header bounds of %s (X %.3f to %.3f, Y %.3f to %.3f) do not cover its points, and the "
                    "%d x %d raster cells under them are too many to hold in memory\n",
                    inName, h.MinX, h.MaxX, h.MinY, h.MaxY, needed.rows(), needed.cols());
        failRun();
    }
    loadCells(raster, needed, false);
}

}  // namespace

FilterResult filterPoints(std::FILE *in, std::FILE *out, const char *inName, const LAS12Header &header, Raster &raster,
                          double lowLimit, double highLimit)
{
    FilterResult result;
    SelectionContext c(header, raster, lowLimit, highLimit);
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
        const int readError = errno;
        Selection s = selectRecords(block.data(), block.data(), got, len, c, result.tally);
        // A point outside the cells held: hold what the rest needs, go on.
        while (s.classified < got) {
            holdCellsForRest(in, inName, header, done + s.classified, raster);
            c = SelectionContext(header, raster, lowLimit, highLimit);
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
            result.status = FilterStatus::WriteError;
            result.error = errno;
            break;
        }
        if (got != want) {
            result.status = std::ferror(in) ? FilterStatus::ReadError : FilterStatus::ShortInput;
            result.error = readError;
            break;
        }
    }
    result.recordsRead = static_cast<uint32_t>(done);
    return result;
}
