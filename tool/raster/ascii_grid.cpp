// ASCII grids: a keyword header, then the values as text, north row first.
#include "raster/grid_formats.h"

#include "run_failure.h"
#include "text/numeric_text.h"
#include "text/quoted_token.h"
#include "text/text_reader.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace morvane {

namespace {

// The values of one grid file, read in order; a failure names the value.
class ValueReader {
public:
    ValueReader(const GridFile &f, const GridGeometry &g, std::FILE *file) : name_(f.data.c_str()), g_(g), reader_(file)
    {
    }

    // Values `from` to `to` of grid row `row`, each kept in kept[k - from]
    // (kept null: checked and dropped). Runs of the usual short decimals
    // are parsed several at a time; any other form goes the general way.
    void read(int32_t row, int32_t from, int32_t to, float *kept)
    {
        float dropped[kDroppedAtOnce];
        for (int32_t k = from; k < to;) {
            float *const into = kept != nullptr ? kept + (k - from) : dropped;
            const int32_t wanted = kept != nullptr ? to - k : std::min(to - k, kDroppedAtOnce);
            const auto parsed = static_cast<int32_t>(reader_.nextDecimals(into, static_cast<size_t>(wanted)));
            k += parsed;
            if (parsed == wanted)
                continue;
            // The run stopped at a token of another form, or at the window's end.
            const std::string_view token = reader_.next();
            float value = 0.0f;
            if (!parseShortDecimal(token, value))
                value = other(token, row, k);
            if (kept != nullptr)
                kept[k - from] = value;
            ++k;
        }
    }

private:
    static constexpr int32_t kDroppedAtOnce = 256;

    float other(std::string_view token, int32_t row, int32_t k)
    {
        if (token.empty()) {
            if (reader_.readError() != 0)
                failRun("\nCannot read raster file %s: %s\n", name_, std::strerror(reader_.readError()));
            if (reader_.tooLong())
                failRun("\nRaster file %s: value %d of row %d is too long\n", name_, k + 1, g_.rows - row);
            failRun("\nRaster file %s ends before its %d x %d values\n", name_, g_.rows, g_.cols);
        }
        float value = 0.0f;
        if (!parseOtherFloat(token, value))
            failRun("\nRaster file %s: value %d of row %d is not a number: %s\n", name_, k + 1, g_.rows - row,
                    quotedToken(token).c_str());
        return value;
    }

    const char *name_;
    const GridGeometry &g_;
    TextReader reader_;
};

}  // namespace

// Text cannot be skipped: every value from where the header ended is parsed
// and checked, and those in the window are kept.
void readAsciiGridCells(const GridFile &f, const GridHeader &h, std::FILE *file, const CellWindow &window, float *cells,
                        const RowProgress &progress)
{
    if (::fseeko(file, static_cast<off_t>(h.dataOffset), SEEK_SET) != 0)
        failRun("\nCannot read raster file %s: %s\n", f.data.c_str(), std::strerror(errno));
    const GridGeometry &g = h.grid;
    ValueReader values(f, g, file);
    const int32_t colBegin = window.colBegin, colEnd = window.colEnd;
    for (int32_t row = g.rows - 1; row >= 0; --row) {
        if (!window.containsRow(row)) {
            values.read(row, 0, g.cols, nullptr);
        } else {
            values.read(row, 0, colBegin, nullptr);
            values.read(row, colBegin, colEnd, cells + window.rowStart(row));
            values.read(row, colEnd, g.cols, nullptr);
        }
        progress.row(row);
    }
}

// One parse, as for a window: of each row under held blocks, the values of
// their columns are kept, each in its block.
void readAsciiGridBlocks(const GridFile &f, const GridHeader &h, std::FILE *file, const BlockDirectory &blocks,
                         float *cells, const RowProgress &progress)
{
    if (::fseeko(file, static_cast<off_t>(h.dataOffset), SEEK_SET) != 0)
        failRun("\nCannot read raster file %s: %s\n", f.data.c_str(), std::strerror(errno));
    const GridGeometry &g = h.grid;
    ValueReader values(f, g, file);
    const std::vector<BlockId> &list = blocks.blocks();
    BlockRuns runs(list);
    for (int32_t row = g.rows - 1; row >= 0; --row) {
        int32_t k = 0;
        for (const BlockRun &run : runs.under(row)) {
            for (size_t b = run.first; b < run.end; ++b) {
                const int32_t start = blockStart(list[b].col), end = blockEnd(list[b].col, g.cols);
                values.read(row, k, start, nullptr);
                values.read(row, start, end, cells + blockCellIndex(static_cast<uint32_t>(b), row, start));
                k = end;
            }
        }
        values.read(row, k, g.cols, nullptr);
        progress.row(row);
    }
}

}  // namespace morvane
