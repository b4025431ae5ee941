// The keywords of grid headers: the ASCII grid's and both .hdr forms'.
#ifndef MORVANE_HEADER_KEYWORDS_H
#define MORVANE_HEADER_KEYWORDS_H

#include <optional>
#include <string>
#include <string_view>

namespace morvane {

enum class HeaderKey {
    NCols,
    NRows,
    XllCorner,
    XllCenter,
    YllCorner,
    YllCenter,
    CellSize,
    Dx,
    Dy,
    Nodata,
    ByteOrder,
    Layout,
    NBands,
    NBits,
    BandRowBytes,
    TotalRowBytes,
    BandGapBytes,
    SkipBytes,
    PixelType,
    UlxMap,
    UlyMap,
    XDim,
    YDim,
    Rotation,
    Count  // not a keyword: how many there are
};

// The keyword a token names, in any letter case.
std::optional<HeaderKey> keywordOf(std::string_view token);

// ASCII letters in lower case; other bytes as they are.
std::string lowerAscii(std::string_view s);

}  // namespace morvane

#endif
