// ASCII grids: a keyword header, then the values as text, north row first.
#include "raster/grid_formats.h"

#include "run_failure.h"
#include "text/numeric_text.h"
#include "text/quoted_token.h"
#include "text/text_reader.h"

#include <cstring>
#include <string_view>
#include <sys/types.h>

// Text cannot be skipped: every value from where the header ended is parsed
// and checked, and those in the window are kept.
void readAsciiGridCells(const GridFile &f, const RasterHeader &h, std::FILE *file, const CellWindow &window,
                        float *cells, const RowProgress &progress)
{
    const char *name = f.data.c_str();
    if (::fseeko(file, static_cast<off_t>(h.dataOffset), SEEK_SET) != 0)
        failRun("\nCannot read raster file %s: %s\n", name, std::strerror(errno));
    TextReader reader(file);
    const GridGeometry &g = h.grid;
    for (int32_t row = g.rows - 1; row >= 0; --row) {
        float *kept = window.containsRow(row) ? cells + window.rowStart(row) : nullptr;
        for (int32_t k = 0; k < g.cols; ++k) {
            const std::string_view token = reader.next();
            if (token.empty()) {
                if (reader.readError() != 0)
                    failRun("\nCannot read raster file %s: %s\n", name, std::strerror(reader.readError()));
                if (reader.tooLong())
                    failRun("\nRaster file %s: value %d of row %d is too long\n", name, k + 1, g.rows - row);
                failRun("\nRaster file %s ends before its %d x %d values\n", name, g.rows, g.cols);
            }
            float value = 0.0f;
            if (!parseFloatToken(token, value))
                failRun("\nRaster file %s: value %d of row %d is not a number: %s\n", name, k + 1, g.rows - row,
                        quotedToken(token).c_str());
            if (kept != nullptr && k >= window.colBegin && k < window.colEnd)
                kept[k - window.colBegin] = value;
        }
        progress.row(row);
    }
}
