#include "grid_header/header_keywords.h"

namespace morvane {

namespace {

struct KeywordName {
    std::string_view name;
    HeaderKey key;
};

// nodata_value is the ASCII grid's spelling, nodata the band-interleaved one.
constexpr KeywordName kKeywords[] = {
    {"ncols", HeaderKey::NCols},
    {"nrows", HeaderKey::NRows},
    {"xllcorner", HeaderKey::XllCorner},
    {"xllcenter", HeaderKey::XllCenter},
    {"yllcorner", HeaderKey::YllCorner},
    {"yllcenter", HeaderKey::YllCenter},
    {"cellsize", HeaderKey::CellSize},
    {"dx", HeaderKey::Dx},
    {"dy", HeaderKey::Dy},
    {"nodata_value", HeaderKey::Nodata},
    {"nodata", HeaderKey::Nodata},
    {"byteorder", HeaderKey::ByteOrder},
    {"layout", HeaderKey::Layout},
    {"nbands", HeaderKey::NBands},
    {"nbits", HeaderKey::NBits},
    {"bandrowbytes", HeaderKey::BandRowBytes},
    {"totalrowbytes", HeaderKey::TotalRowBytes},
    {"bandgapbytes", HeaderKey::BandGapBytes},
    {"skipbytes", HeaderKey::SkipBytes},
    {"pixeltype", HeaderKey::PixelType},
    {"ulxmap", HeaderKey::UlxMap},
    {"ulymap", HeaderKey::UlyMap},
    {"xdim", HeaderKey::XDim},
    {"ydim", HeaderKey::YDim},
    {"rotation", HeaderKey::Rotation},
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

}  // namespace morvane
