#include "point_filter.h"

#include "raster.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr size_t kBlockBytes = size_t{4} << 20;

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

}  // namespace

FilterResult filterPoints(std::FILE *in, std::FILE *out, const LAS12Header &header,
                          double lowLimit, double highLimit)
{
    FilterResult result;
    const uint32_t n = header.NumberOfPointReturns;
    const size_t len = header.PointDataRecordLength;
    const Classifier c(header, lowLimit, highLimit);

    // Progress about every 1 % of the records; below 100 records only the
    // first one reports.
    uint32_t reportStep = static_cast<uint32_t>(std::floor(n * 0.01));
    if (reportStep == 0)
        reportStep = n * 100;
    uint64_t nextReport = 0;

    const size_t perBlock = kBlockBytes / len;
    std::vector<uint8_t> block(perBlock * len);
    Tally tally;
    uint32_t i = 0;
    while (i < n) {
        const size_t want = std::min<size_t>(perBlock, n - i);
        const size_t got = std::fread(block.data(), len, want, in);

        // Selected records are compacted to the front of the block in place.
        uint8_t *kept = block.data();
        for (size_t k = 0; k < got; ++k, ++i) {
            const uint8_t *rec = block.data() + k * len;
            int32_t xyz[3];
            std::memcpy(xyz, rec, sizeof xyz);
            const double row = std::floor((xyz[1] * c.yScale + c.yOffset - c.miny) / c.cellsize);
            const double col = std::floor((xyz[0] * c.xScale + c.xOffset - c.minx) / c.cellsize);
            if (i == nextReport) {
                std::printf("... processing ... ( %u%% done )\r", i / reportStep);
                std::fflush(stdout);
                nextReport += reportStep;
            }
            // NaN, infinite and out-of-range quotients all fail these tests.
            if (!(row >= 0.0 && row < c.rows && col >= 0.0 && col < c.cols)) {
                ++tally.out;
                continue;
            }
            const float v = _raster[static_cast<int32_t>(row)][static_cast<int32_t>(col)];
            if (v == c.nodata) {
                ++tally.onNodata;
                continue;
            }
            const double z = xyz[2] * c.zScale + c.zOffset;
            const double cell = v;
            if (z >= cell + c.low && z <= cell + c.high) {
                if (kept != rec)
                    std::memmove(kept, rec, len);
                kept += len;
            }
        }
        const size_t keptCount = static_cast<size_t>(kept - block.data()) / len;
        result.written.add(block.data(), keptCount, len);
        tally.in += static_cast<uint32_t>(keptCount);
        if (keptCount != 0 && std::fwrite(block.data(), len, keptCount, out) != keptCount) {
            result.status = FilterStatus::WriteError;
            break;
        }
        if (got != want) {
            result.status = std::ferror(in) ? FilterStatus::ReadError : FilterStatus::ShortInput;
            break;
        }
    }
    result.recordsRead = i;
    result.tally = tally;
    return result;
}
