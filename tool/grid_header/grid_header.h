// Keyword-value headers of elevation grids: the ASCII grid's own header and
// the .hdr companion of a binary float grid (both the six-pair form and the
// band-interleaved form with ULXMAP/XDIM), keywords in any order and case.
#ifndef MORVANE_GRID_HEADER_H
#define MORVANE_GRID_HEADER_H

#include "grid_header/grid_geometry.h"

#include <cstdint>
#include <string>

namespace morvane {

class TextReader;

struct GridHeader {
    GridGeometry grid;
    float nodata = 0.0f;     // may be NaN when the header says so
    bool hasNodata = false;  // without one, no cell is NODATA
    bool bigEndian = false;  // .hdr byte order; ASCII grids are text
    // An ASCII grid's first cell value, in bytes from the file's start:
    // loading its cells starts there instead of parsing the header again.
    uint64_t dataOffset = 0;
};

// Both return an empty string on success, otherwise the reason, naming the
// keyword at fault as the file spells it. The ASCII reader stops before the
// first cell value (the first token that is a number, not a keyword), and
// records where it begins.
std::string parseAsciiGridHeader(TextReader &reader, GridHeader &out);
std::string parseFloatGridHeader(TextReader &reader, GridHeader &out);

}  // namespace morvane

#endif
