#include "grid_header/header_keywords.h"

namespace {

struct KeywordName {
    std::string_view name;
    HeaderKey key;
};

// nodata_value is the ASCII grid's spelling, nodata the band-interleaved one.
constexpr KeywordName kKeywords[] = {
    {"ncols", kNCols},
    {"nrows", kNRows},
    {"xllcorner", kXllCorner},
    {"xllcenter", kXllCenter},
    {"yllcorner", kYllCorner},
    {"yllcenter", kYllCenter},
    {"cellsize", kCellSize},
    {"dx", kDx},
    {"dy", kDy},
    {"nodata_value", kNodata},
    {"nodata", kNodata},
    {"byteorder", kByteOrder},
    {"layout", kLayout},
    {"nbands", kNBands},
    {"nbits", kNBits},
    {"bandrowbytes", kBandRowBytes},
    {"totalrowbytes", kTotalRowBytes},
    {"bandgapbytes", kBandGapBytes},
    {"skipbytes", kSkipBytes},
    {"pixeltype", kPixelType},
    {"ulxmap", kUlxMap},
    {"ulymap", kUlyMap},
    {"xdim", kXDim},
    {"ydim", kYDim},
    {"rotation", kRotation},
};

}  // namespace

std::string lowerAscii(std::string_view s)
{
    std::string out(s);
    for (char &c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::optional<HeaderKey> keywordOf(std::string_view token)
{
    const std::string k = lowerAscii(token);
    for (const KeywordName &kw : kKeywords)
        if (k == kw.name)
            return kw.key;
    return std::nullopt;
}
