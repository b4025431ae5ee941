// The keywords of grid headers: the ASCII grid's and both .hdr forms'.
#ifndef MORVANE_HEADER_KEYWORDS_H
#define MORVANE_HEADER_KEYWORDS_H

#include <optional>
#include <string>
#include <string_view>

enum HeaderKey {
    kNCols,
    kNRows,
    kXllCorner,
    kXllCenter,
    kYllCorner,
    kYllCenter,
    kCellSize,
    kDx,
    kDy,
    kNodata,
    kByteOrder,
    kLayout,
    kNBands,
    kNBits,
    kBandRowBytes,
    kTotalRowBytes,
    kBandGapBytes,
    kSkipBytes,
    kPixelType,
    kUlxMap,
    kUlyMap,
    kXDim,
    kYDim,
    kRotation,
    kKeyCount
};

// The keyword a token names, in any letter case.
std::optional<HeaderKey> keywordOf(std::string_view token);

// ASCII letters in lower case; other bytes as they are.
std::string lowerAscii(std::string_view s);

#endif
