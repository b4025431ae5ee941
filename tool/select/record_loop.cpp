#include "select/record_loop.h"

#include "lidar/internal/block_size.h"
#include "lidar/internal/file_mapping.h"
#include "raster/cells_needed.h"
#include "select/kernels.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <vector>

namespace morvane {

namespace {

// The widest vector kernel the processor runs: same result, bit for bit.
Selection selectRecords(uint8_t *keep, const uint8_t *records, size_t count, size_t len, const SelectionContext &c,
                        Tally &tally)
{
    static const Kernel kernel = [] {
        const VectorKernel *const vector = vectorKernel();
        return vector != nullptr ? vector->select : selectRecordsPortable;
    }();
    return kernel(keep, records, count, len, c, tally);
}

// A regular file's records are read where the page cache holds them,
// through read-only mappings of about this many bytes at a time; anything
// else (a pipe, a device) is read into a block.
constexpr size_t kWindowBytes = size_t{16} << 20;

// Where the record loop takes its records from: the mapped file, window by
// window, or blocks read with fread.
class RecordSource {
public:
    RecordSource(std::FILE *in, const LAS12Header &h, size_t perBlock)
        : in_(in), header_(h), dataStart_(h.OffsetToData), len_(h.PointDataRecordLength),
          available_(wholeRecordsInFile(h, ::fileno(in))),
          perWindow_(std::max<size_t>(1, kWindowBytes / (perBlock * len_)) * perBlock)
    {
    }

    bool mapped() const { return available_.has_value(); }
    // Whether the input could be read neither way (a window not mapped, and
    // the file not positioned for reading on).
    bool failed() const { return failed_; }
    const lidar::FileMapping &window() const { return window_; }

    // Up to `want` records from record `first` on; fewer where the file
    // ends or a read fails (errno then says why). Read ones land in `block`.
    size_t next(uint64_t first, size_t want, uint8_t *block, const uint8_t *&records)
    {
        if (mapped() && first + want > windowEnd_ && first < *available_)
            mapWindow(first);
        if (failed_) {
            records = block;
            return 0;
        }
        if (!mapped()) {
            records = block;
            return std::fread(block, len_, want, in_);
        }
        const auto got = static_cast<size_t>(std::min<uint64_t>(want, *available_ - std::min(first, *available_)));
        records = got == 0 ? block : window_.data() + (first - windowFirst_) * len_;
        errno = 0;
        return got;
    }

    // After a fault on the window: the records the file holds now, which
    // tells a file cut short from a failed read.
    uint64_t recordsNow() const { return wholeRecordsInFile(header_, ::fileno(in_)).value_or(0); }

private:
    void mapWindow(uint64_t first)
    {
        const uint64_t count = std::min<uint64_t>(perWindow_, *available_ - first);
        window_.reset();
        window_ = lidar::FileMapping::map(::fileno(in_), dataStart_ + first * len_, static_cast<size_t>(count * len_));
        windowFirst_ = first;
        windowEnd_ = first + count;
        // A file that cannot be mapped is read as before, from here on.
        if (!window_) {
            available_.reset();
            failed_ = ::fseeko(in_, static_cast<off_t>(dataStart_ + first * len_), SEEK_SET) != 0;
        }
    }

    std::FILE *in_;
    const LAS12Header &header_;
    uint64_t dataStart_;
    size_t len_;
    std::optional<uint64_t> available_;  // whole records in a regular file
    size_t perWindow_;
    lidar::FileMapping window_;
    uint64_t windowFirst_ = 0, windowEnd_ = 0;  // the records it holds
    bool failed_ = false;
};

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
    RecordSource source(in, header, perBlock);
    // The records read, selected in place; or, from a mapping, the ones kept.
    std::vector<uint8_t> block(std::min<size_t>(perBlock, n) * len);
    uint64_t done = 0;
    while (done < n) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(perBlock, n - done));
        const uint8_t *records = nullptr;
        const size_t got = source.next(done, want, block.data(), records);
        const int readError = errno;
        Selection s{};
        const void *fault = lidar::readMapped({&source.window(), &raster.cells.fileMapping()}, [&] {
            s = selectRecords(block.data(), records, got, len, c, result.tally);
        });
        // A point outside the cells held: hold what the rest needs, go on.
        while (fault == nullptr && s.classified < got) {
            holdCellsForRest(raster, header, inName, ::fileno(in), done + s.classified);
            c = SelectionContext(header, raster, limits);
            fault = lidar::readMapped({&source.window(), &raster.cells.fileMapping()}, [&] {
                const Selection rest = selectRecords(s.keptEnd, records + s.classified * len, got - s.classified, len,
                                                     c, result.tally);
                s = {rest.keptEnd, s.classified + rest.classified};
            });
        }
        if (fault != nullptr && raster.cells.fileMapping().contains(fault))
            failCellsCutShort(raster);
        if (fault != nullptr) {
            // The file was cut short under the mapping: it ends where it now
            // ends, as a read would have found it; else the read failed.
            const uint64_t now = source.recordsNow();
            result.status = now < done + got ? LoopStatus::ShortInput : LoopStatus::ReadError;
            result.error = EIO;
            done = std::max(done, std::min<uint64_t>(now, n));
            break;
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
            result.status = source.failed() || (!source.mapped() && std::ferror(in)) ? LoopStatus::ReadError
                                                                                     : LoopStatus::ShortInput;
            result.error = readError;
            break;
        }
    }
    result.recordsRead = static_cast<uint32_t>(done);
    return result;
}

}  // namespace morvane
