// Keyword-value headers of elevation grids: the ASCII grid's own header and
// the .hdr companion of a binary float grid (both the six-pair form and the
// band-interleaved form with ULXMAP/XDIM), keywords in any order and case.
#ifndef MORVANE_RASTER_HEADER_H
#define MORVANE_RASTER_HEADER_H

#include "grid_geometry.h"
#include "text_reader.h"

#include <string>
#include <string_view>

struct RasterHeader {
    GridGeometry grid;
    float nodata = 0.0f;     // may be NaN when the header says so
    bool hasNodata = false;  // without one, no cell is NODATA
    bool bigEndian = false;  // .hdr byte order; ASCII grids are text
};

// A token of a grid file as a message may show it: quoted, printable
// characters only, cut short when long.
std::string quotedToken(std::string_view token);

// Both return an empty string on success, otherwise the reason, naming the
// keyword at fault as the file spells it. The ASCII reader stops before the
// first cell value (the first token that is a number, not a keyword).
std::string parseAsciiGridHeader(TextReader &reader, RasterHeader &out);
std::string parseFloatGridHeader(TextReader &reader, RasterHeader &out);

#endif
