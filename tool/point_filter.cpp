#include "point_filter.h"

#include "raster_window.h"
#include "record_selection.h"
#include "run_failure.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <unistd.h>
#include <vector>

namespace {

// Records are read, classified and written in blocks of 1 MiB: large reads
// and writes, and a block stays in the L2 cache from its read to its write.
constexpr size_t kBlockBytes = size_t{1} << 20;

// The cells under records [from, n) of the input and those already held,
// found by reading the records without moving the stream.
CellWindow windowForRest(std::FILE *in, const LAS12Header &h, uint64_t from, const Raster &raster)
{
    const size_t len = h.PointDataRecordLength;
    const int fd = ::fileno(in);
    std::vector<uint8_t> block(std::max<size_t>(1, kBlockBytes / len) * len);
    lidar::PointStats bounds;
    uint64_t offset = h.OffsetToData + from * len;
    // The header's records only: bytes after them are no points.
    for (uint64_t left = h.NumberOfPointReturns - from; left != 0;) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(left, block.size() / len)) * len;
        const ssize_t got = ::pread(fd, block.data(), want, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR)
            continue;
        const size_t whole = got > 0 ? static_cast<size_t>(got) / len : 0;
        if (whole == 0)
            break;
        bounds.add(block.data(), whole, len);
        offset += whole * len;
        left -= whole;
    }
    return cover(raster.window, windowForRecords(raster.grid(), h, bounds));
}

// Makes the raster hold the cells the rest of the input needs.
void holdCellsForRest(std::FILE *in, const char *inName, const LAS12Header &h, uint64_t from, Raster &raster)
{
    CellWindow needed = windowForRest(in, h, from, raster);
    // Records that could not be read again cannot be measured: the whole grid.
    if (raster.window.contains(needed))
        needed = CellWindow::whole(raster.grid());
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
