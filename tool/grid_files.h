// The two raster file kinds, as the raster loader uses them: their headers
// (printing the refusal and throwing RunFailure when one cannot be used) and
// the cells of a window, read from a file opened by the loader.
#ifndef MORVANE_GRID_FILES_H
#define MORVANE_GRID_FILES_H

#include "file_handle.h"
#include "raster.h"
#include "text_reader.h"

#include <cstdint>
#include <cstdio>

// The "Reading raster" progress lines, row by row from the north.
class RowProgress {
public:
    RowProgress(bool shown, bool ascii, int32_t rows);
    void row(int32_t r) const;

private:
    bool shown_;
    const char *format_;
    int32_t percentPerStep_;
    int32_t step_ = 1;
};

// The raster file or its .hdr, opened for reading; when it cannot be,
// prints so and throws RunFailure.
lidar::FilePtr openGridFileOrFail(const char *name, const char *mode);

// The header parsed from reader; a refusal is printed, naming `fileName`,
// and RunFailure thrown.
RasterHeader parseHeaderOrFail(TextReader &reader, bool ascii, const char *fileName);

RasterHeader readAsciiGridHeader(const char *name);
RasterHeader readFloatGridHeader(const char *fltName);

// Fill `cells` (window.rows() x window.cols(), northern row first).
void readAsciiGridCells(const Raster &r, std::FILE *file, const CellWindow &window, float *cells,
                        const RowProgress &progress);
void readFloatGridCells(const Raster &r, std::FILE *file, const CellWindow &window, float *cells,
                        const RowProgress &progress);

#endif
