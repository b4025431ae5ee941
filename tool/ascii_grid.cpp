// ASCII grids: a keyword header, then the values as text, north row first.
#include "grid_files.h"

#include "numeric_text.h"
#include "run_failure.h"
#include "text_reader.h"

#include <cstring>
#include <string>
#include <string_view>

RasterHeader readAsciiGridHeader(const char *name)
{
    const lidar::FilePtr file = openGridFileOrFail(name, "r");
    TextReader reader(file.get(), 64 * 1024);
    return parseHeaderOrFail(reader, true, name);
}

// Text cannot be skipped: every value is parsed and checked, and those in
// the window are kept.
void readAsciiGridCells(const Raster &r, std::FILE *file, const CellWindow &window, float *cells,
                        const RowProgress &progress)
{
    const char *name = r.fileName.c_str();
    TextReader reader(file);
    parseHeaderOrFail(reader, true, name);
    const GridGeometry &g = r.grid();
    const auto windowCols = static_cast<size_t>(window.cols());
    for (int32_t row = g.rows - 1; row >= 0; --row) {
        float *kept = window.containsRow(row) ? cells + static_cast<size_t>(window.rowEnd - 1 - row) * windowCols
                                              : nullptr;
        for (int32_t k = 0; k < g.cols; ++k) {
            const std::string_view token = reader.next();
            if (token.empty()) {
                if (reader.readError() != 0)
                    std::printf("\nCannot read raster file %s: %s\n", name, std::strerror(reader.readError()));
                else if (reader.tooLong())
                    std::printf("\nRaster file %s: value %d of row %d is too long\n", name, k + 1, g.rows - row);
                else
                    std::printf("\nRaster file %s ends before its %d x %d values\n", name, g.rows, g.cols);
                failRun();
            }
            float value = 0.0f;
            if (!parseFloatToken(token, value)) {
                std::printf("\nRaster file %s: value %d of row %d is not a number: %s\n", name, k + 1, g.rows - row,
                            quotedToken(token).c_str());
                failRun();
            }
            if (kept != nullptr && k >= window.colBegin && k < window.colEnd)
                kept[k - window.colBegin] = value;
        }
        progress.row(row);
    }
}
