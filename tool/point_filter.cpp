#include "point_filter.h"

#include "raster.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

// Records are read, classified and written in blocks of 1 MiB: large reads
// and writes, and a block stays in the L2 cache from its read to its write.
constexpr size_t kBlockBytes = size_t{1} << 20;

inline int32_t load32(const uint8_t *p)
{
    int32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

struct Classifier {
    double xScale, xOffset, yScale, yOffset, zScale, zOffset;
    double minx, miny, cellsize, rows, cols;
    float nodata;
    double low, high;

    explicit Classifier(const LAS12Header &h, double lowLimit, double highLimit)
        : xScale(h.XScaleFactor), xOffset(h.XOffset), yScale(h.YScaleFactor), yOffset(h.YOffset),
          zScale(h.ZScaleFactor), zOffset(h.ZOffset), minx(_minx), miny(_miny), cellsize(_cellsize),
          rows(_nRows), cols(_nCols), nodata(_NODATAval), low(lowLimit), high(highLimit)
    {
    }
};

// Copies a record of Len bytes (16 or more) to dst, which is the record
// itself or lies wholly before it. Every 16-byte piece is loaded before any
// is stored; the last piece overlaps the one before it.
template <size_t Len>
inline void copyRecord(uint8_t *dst, const uint8_t *src)
{
    static_assert(Len >= 16);
    struct Piece {
        uint8_t bytes[16];
    };
    constexpr size_t kPieces = (Len + 15) / 16;
    Piece pieces[kPieces];
    for (size_t i = 0; i < kPieces; ++i)
        std::memcpy(&pieces[i], src + std::min(16 * i, Len - 16), 16);
    for (size_t i = 0; i < kPieces; ++i)
        std::memcpy(dst + std::min(16 * i, Len - 16), &pieces[i], 16);
}

// Classifies count records of a block and moves the selected ones, in
// order, to its front (compacted in place); returns how many were selected. Len is the record length when known at
// compile time (0: the run-time len), so that the copy of a record is a few
// moves.
//
// The cell is floor(q) for q = (coordinate - corner) / cellsize. Since the
// raster's bounds are whole numbers, floor(q) >= 0 exactly when q >= 0 and
// floor(q) < n exactly when q < n, and for q >= 0 truncation is floor; NaN
// fails every test. So q itself is tested and truncated.
template <size_t Len>
size_t selectRecords(uint8_t *records, size_t count, size_t len, const Classifier &classifier,
                     Tally &tally)
{
    // Local copies: the stores of records could otherwise alias them.
    const Classifier c = classifier;
    const float *const *const raster = _raster;
    if constexpr (Len != 0)
        len = Len;
    uint8_t *kept = records;
    uint32_t out = 0, onNodata = 0;
    for (size_t k = 0; k < count; ++k) {
        const uint8_t *rec = records + k * len;
        const double row = (load32(rec + 4) * c.yScale + c.yOffset - c.miny) / c.cellsize;
        const double col = (load32(rec) * c.xScale + c.xOffset - c.minx) / c.cellsize;
        if (!(row >= 0.0 && row < c.rows && col >= 0.0 && col < c.cols)) {
            ++out;
            continue;
        }
        const float v = raster[static_cast<int32_t>(row)][static_cast<int32_t>(col)];
        if (v == c.nodata) {
            ++onNodata;
            continue;
        }
        const double z = load32(rec + 8) * c.zScale + c.zOffset;
        const double value = v;
        // Without a branch, as the test goes either way at random: both
        // limits in one vector comparison, the record always copied, and
        // kept only advancing over it when it is selected. (Written as two
        // scalar comparisons, the compiler branches on one of them.)
        using Pair = double __attribute__((vector_size(16)));
        const Pair below = {value + c.low, z}, above = {z, value + c.high};
        const auto within = below <= above;  // z >= value + low, z <= value + high
        const bool selected = (within[0] & within[1]) != 0;
        if constexpr (Len != 0)
            copyRecord<Len>(kept, rec);
        else if (selected)
            std::memmove(kept, rec, len);
        kept += selected ? len : 0;
    }
    tally.out += out;
    tally.onNodata += onNodata;
    return static_cast<size_t>(kept - records) / len;
}

size_t selectBlock(uint8_t *records, size_t count, size_t len, const Classifier &c,
                   Tally &tally)
{
    switch (len) {
    case 20: return selectRecords<20>(records, count, len, c, tally);
    case 26: return selectRecords<26>(records, count, len, c, tally);
    case 28: return selectRecords<28>(records, count, len, c, tally);
    case 34: return selectRecords<34>(records, count, len, c, tally);
    default: return selectRecords<0>(records, count, len, c, tally);
    }
}

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
