#include "header_keywords.h"

#include "raster_header.h"

namespace grid_header {

namespace {

struct KeywordName {
    std::string_view name;
    Key key;
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

std::string lower(std::string_view s)
{
    std::string out(s);
    for (char &c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::optional<Key> keywordOf(std::string_view token)
{
    const std::string k = lower(token);
    for (const KeywordName &kw : kKeywords)
        if (k == kw.name)
            return kw.key;
    return std::nullopt;
}

}  // namespace grid_header

// A binary file posing as a grid must not spill control bytes onto the console.
std::string quotedToken(std::string_view s)
{
    constexpr size_t kMax = 40;
    std::string out = "'";
    for (size_t i = 0; i < s.size() && i < kMax; ++i)
        out += (s[i] >= 0x20 && s[i] < 0x7f) ? s[i] : '?';
    if (s.size() > kMax)
        out += "...";
    return out + "'";
}
