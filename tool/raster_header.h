// Keyword-value headers of elevation grids: the ASCII grid's own header and
// the .hdr companion of a binary float grid (both the six-pair form and the
// band-interleaved form with ULXMAP/XDIM).
#ifndef MORVANE_RASTER_HEADER_H
#define MORVANE_RASTER_HEADER_H

#include "text_reader.h"

#include <cstdint>
#include <string>

struct RasterHeader {
    int32_t nCols = 0;
    int32_t nRows = 0;
    float minx = 0.0f;
    float miny = 0.0f;
    float cellsize = 0.0f;
    float nodata = 0.0f;
    bool hasNodata = false;
    bool bigEndian = false;
};

// Both return an empty string on success, otherwise the reason (which names
// the keyword at fault). The ASCII reader stops before the first cell value.
std::string parseAsciiGridHeader(TextReader &reader, RasterHeader &out);
std::string parseFloatGridHeader(TextReader &reader, RasterHeader &out);

#endif
