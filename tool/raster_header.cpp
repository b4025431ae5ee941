// Reading grid headers by keyword, in any order and letter case.
#include "raster_header.h"

#include <charconv>
#include <cmath>
#include <optional>
#include <string>
#include <string_view>

namespace {

std::string lower(std::string_view s)
{
    std::string out(s);
    for (char &c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool parseInt64(std::string_view token, int64_t &value)
{
    const char *first = token.data();
    const char *last = first + token.size();
    if (first != last && *first == '+')
        ++first;
    const auto [ptr, ec] = std::from_chars(first, last, value);
    return ec == std::errc() && ptr == last;
}

// What the keywords of one header said; checked and combined at the end.
struct Fields {
    std::optional<int64_t> ncols, nrows;
    std::optional<float> xll, yll, cellsize, dx, dy, nodata;
    bool xCenter = false, yCenter = false;
    std::optional<double> ulx, uly, xdim, ydim;
    std::optional<int64_t> nbands, nbits, bandRowBytes, totalRowBytes, skipBytes, bandGapBytes;
    std::optional<std::string> byteOrder, layout, pixelType;
};

std::string quoted(std::string_view s) { return "'" + std::string(s) + "'"; }

class HeaderParser {
public:
    HeaderParser(TextReader &reader, bool asciiGrid) : reader_(reader), ascii_(asciiGrid) {}

    std::string run(RasterHeader &out)
    {
        for (;;) {
            const std::string_view keyToken = reader_.next();
            if (keyToken.empty())
                break;
            const std::string key = lower(keyToken);
            if (!isKeyword(key)) {
                float probe;
                if (ascii_ && parseFloatToken(keyToken, probe)) {
                    reader_.unget();  // the first cell value: the header is over
                    break;
                }
                return "unknown keyword " + quoted(keyToken);
            }
            const std::string_view valueToken = reader_.next();
            if (valueToken.empty())
                return "no value after keyword " + quoted(keyToken);
            if (std::string err = store(key, keyToken, valueToken); !err.empty())
                return err;
        }
        if (reader_.tooLong())
            return "a header token is too long";
        return finish(out);
    }

private:
    static bool isKeyword(const std::string &k)
    {
        static constexpr std::string_view kKeys[] = {
            "ncols", "nrows", "xllcorner", "xllcenter", "yllcorner", "yllcenter", "cellsize",
            "nodata_value", "nodata", "dx", "dy", "byteorder", "layout", "nbands", "nbits",
            "bandrowbytes", "totalrowbytes", "bandgapbytes", "skipbytes", "pixeltype", "ulxmap",
            "ulymap", "xdim", "ydim"};
        for (std::string_view known : kKeys)
            if (k == known)
                return true;
        return false;
    }

    std::string store(const std::string &key, std::string_view keyToken, std::string_view value)
    {
        const std::string bad = "cannot read the value " + quoted(value) + " of keyword " + quoted(keyToken);
        auto integer = [&](std::optional<int64_t> &slot) {
            int64_t v;
            if (!parseInt64(value, v))
                return bad;
            slot = v;
            return std::string();
        };
        auto single = [&](std::optional<float> &slot) {
            float v;
            if (!parseFloatToken(value, v))
                return bad;
            slot = v;
            return std::string();
        };
        auto dbl = [&](std::optional<double> &slot) {
            const std::string copy(value);
            double v;
            const char *first = copy.c_str();
            if (*first == '+')
                ++first;
            const auto [ptr, ec] = std::from_chars(first, copy.c_str() + copy.size(), v);
            if (ec != std::errc() || ptr != copy.c_str() + copy.size())
                return bad;
            slot = v;
            return std::string();
        };
        auto text = [&](std::optional<std::string> &slot) {
            slot = lower(value);
            return std::string();
        };
        if (key == "ncols") return integer(f_.ncols);
        if (key == "nrows") return integer(f_.nrows);
        if (key == "xllcorner" || key == "xllcenter") {
            f_.xCenter = key == "xllcenter";
            return single(f_.xll);
        }
        if (key == "yllcorner" || key == "yllcenter") {
            f_.yCenter = key == "yllcenter";
            return single(f_.yll);
        }
        if (key == "cellsize") return single(f_.cellsize);
        if (key == "dx") return single(f_.dx);
        if (key == "dy") return single(f_.dy);
        if (key == "nodata_value" || key == "nodata") return single(f_.nodata);
        if (key == "byteorder") return text(f_.byteOrder);
        if (key == "layout") return text(f_.layout);
        if (key == "pixeltype") return text(f_.pixelType);
        if (key == "nbands") return integer(f_.nbands);
        if (key == "nbits") return integer(f_.nbits);
        if (key == "bandrowbytes") return integer(f_.bandRowBytes);
        if (key == "totalrowbytes") return integer(f_.totalRowBytes);
        if (key == "bandgapbytes") return integer(f_.bandGapBytes);
        if (key == "skipbytes") return integer(f_.skipBytes);
        if (key == "ulxmap") return dbl(f_.ulx);
        if (key == "ulymap") return dbl(f_.uly);
        if (key == "xdim") return dbl(f_.xdim);
        if (key == "ydim") return dbl(f_.ydim);
        return "unknown keyword " + quoted(keyToken);
    }

    std::string finish(RasterHeader &out) const
    {
        if (!f_.ncols) return "keyword 'ncols' is missing";
        if (!f_.nrows) return "keyword 'nrows' is missing";
        if (*f_.ncols <= 0 || *f_.ncols > INT32_MAX) return "keyword 'ncols' must be a positive 32-bit count";
        if (*f_.nrows <= 0 || *f_.nrows > INT32_MAX) return "keyword 'nrows' must be a positive 32-bit count";
        out.nCols = static_cast<int32_t>(*f_.ncols);
        out.nRows = static_cast<int32_t>(*f_.nrows);

        if (f_.nbands && *f_.nbands != 1) return "keyword 'nbands': only single-band grids are supported";
        if (f_.nbits && *f_.nbits != 32) return "keyword 'nbits': only 32-bit floating point cells are supported";
        if (f_.pixelType && *f_.pixelType != "float") return "keyword 'pixeltype': only FLOAT cells are supported";
        if (f_.layout && *f_.layout != "bil" && *f_.layout != "bip" && *f_.layout != "bsq")
            return "keyword 'layout': unknown layout";
        const int64_t rowBytes = int64_t{out.nCols} * 4;
        if (f_.bandRowBytes && *f_.bandRowBytes != rowBytes) return "keyword 'bandrowbytes' does not match ncols";
        if (f_.totalRowBytes && *f_.totalRowBytes != rowBytes) return "keyword 'totalrowbytes' does not match ncols";
        if (f_.skipBytes && *f_.skipBytes != 0) return "keyword 'skipbytes': only 0 is supported";
        if (f_.bandGapBytes && *f_.bandGapBytes != 0) return "keyword 'bandgapbytes': only 0 is supported";
        if (f_.byteOrder) {
            const std::string &b = *f_.byteOrder;
            if (b == "lsbfirst" || b == "i")
                out.bigEndian = false;
            else if (b == "msbfirst" || b == "m")
                out.bigEndian = true;
            else
                return "keyword 'byteorder' must be LSBFIRST (I) or MSBFIRST (M)";
        }

        // Cell size: cellsize, or equal dx/dy, or equal xdim/ydim.
        double cell = 0.0;
        if (f_.cellsize) {
            cell = *f_.cellsize;
        } else if (f_.dx || f_.dy) {
            if (!f_.dx || !f_.dy) return "keywords 'dx' and 'dy' must both be given";
            if (*f_.dx != *f_.dy) return "keywords 'dx' and 'dy' differ: non-square cells are not supported";
            cell = *f_.dx;
        } else if (f_.xdim || f_.ydim) {
            if (!f_.xdim || !f_.ydim) return "keywords 'xdim' and 'ydim' must both be given";
            if (*f_.xdim != *f_.ydim) return "keywords 'xdim' and 'ydim' differ: non-square cells are not supported";
            cell = *f_.xdim;
        } else {
            return "keyword 'cellsize' is missing";
        }
        out.cellsize = static_cast<float>(cell);
        if (!std::isfinite(out.cellsize) || !(out.cellsize > 0.0f))
            return "the cell size must be positive and finite";
        // Corner arithmetic in the header's own precision (XDIM is a double).
        const double half = cell / 2.0;

        // South-west corner: lower-left corner or centre, or the centre of the
        // north-west cell.
        if (f_.xll && f_.ulx) return "keywords 'xllcorner' and 'ulxmap' both given";
        if (f_.yll && f_.uly) return "keywords 'yllcorner' and 'ulymap' both given";
        if (f_.xll)
            out.minx = f_.xCenter ? static_cast<float>(static_cast<double>(*f_.xll) - half) : *f_.xll;
        else if (f_.ulx)
            out.minx = static_cast<float>(*f_.ulx - half);
        else
            return "keyword 'xllcorner' is missing";
        if (f_.yll)
            out.miny = f_.yCenter ? static_cast<float>(static_cast<double>(*f_.yll) - half) : *f_.yll;
        else if (f_.uly)
            out.miny = static_cast<float>(*f_.uly + half - static_cast<double>(out.nRows) * cell);
        else
            return "keyword 'yllcorner' is missing";
        if (!std::isfinite(out.minx) || !std::isfinite(out.miny))
            return "the grid corner must be finite";

        out.hasNodata = f_.nodata.has_value();
        out.nodata = f_.nodata.value_or(0.0f);
        return {};
    }

    TextReader &reader_;
    bool ascii_;
    Fields f_;
};

}  // namespace

std::string parseAsciiGridHeader(TextReader &reader, RasterHeader &out)
{
    return HeaderParser(reader, true).run(out);
}

std::string parseFloatGridHeader(TextReader &reader, RasterHeader &out)
{
    return HeaderParser(reader, false).run(out);
}
