// Reading grid headers by keyword, in any order and letter case.
//
// Keywords are gathered first and interpreted once the header is complete,
// so that every refusal can name the keyword as the file spells it. What the
// loaders cannot represent (several bands, integer cells, non-square or
// rotated cells, padded rows) is refused, never approximated.
#include "raster_header.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace {

enum Key {
    kNCols, kNRows, kXllCorner, kXllCenter, kYllCorner, kYllCenter, kCellSize, kDx, kDy,
    kNodata, kByteOrder, kLayout, kNBands, kNBits, kBandRowBytes, kTotalRowBytes,
    kBandGapBytes, kSkipBytes, kPixelType, kUlxMap, kUlyMap, kXDim, kYDim, kRotation,
    kKeyCount
};

struct KeywordName {
    std::string_view name;
    Key key;
};

// nodata_value is the ASCII grid's spelling, nodata the band-interleaved one.
constexpr KeywordName kKeywords[] = {
    {"ncols", kNCols}, {"nrows", kNRows}, {"xllcorner", kXllCorner}, {"xllcenter", kXllCenter},
    {"yllcorner", kYllCorner}, {"yllcenter", kYllCenter}, {"cellsize", kCellSize}, {"dx", kDx},
    {"dy", kDy}, {"nodata_value", kNodata}, {"nodata", kNodata}, {"byteorder", kByteOrder},
    {"layout", kLayout}, {"nbands", kNBands}, {"nbits", kNBits}, {"bandrowbytes", kBandRowBytes},
    {"totalrowbytes", kTotalRowBytes}, {"bandgapbytes", kBandGapBytes}, {"skipbytes", kSkipBytes},
    {"pixeltype", kPixelType}, {"ulxmap", kUlxMap}, {"ulymap", kUlyMap}, {"xdim", kXDim},
    {"ydim", kYDim}, {"rotation", kRotation},
};

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

// A token as it may appear in a message: a binary file posing as a header
// must not spill control bytes onto the console.
std::string quoted(std::string_view s)
{
    constexpr size_t kMax = 40;
    std::string out = "'";
    for (size_t i = 0; i < s.size() && i < kMax; ++i)
        out += (s[i] >= 0x20 && s[i] < 0x7f) ? s[i] : '?';
    if (s.size() > kMax)
        out += "...";
    return out + "'";
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

bool parseDouble(std::string_view token, double &value)
{
    const char *first = token.data();
    const char *last = first + token.size();
    if (first != last && *first == '+' && last - first > 1 && first[1] != '-' && first[1] != '+')
        ++first;
    const auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::general);
    return ec == std::errc() && ptr == last;
}

// Two cell sides are taken as one when, across the whole grid, they drift
// apart by less than a thousandth of a cell: that is printing noise (GDAL
// writes XDIM and YDIM from the same geotransform with 15 digits), not
// rectangular cells.
bool sameSide(double a, double b, int64_t extent)
{
    return std::fabs(a - b) * static_cast<double>(extent) <= 1e-3 * std::fmin(a, b);
}

class HeaderParser {
public:
    HeaderParser(TextReader &reader, bool asciiGrid) : reader_(reader), ascii_(asciiGrid) {}

    std::string run(RasterHeader &out)
    {
        if (std::string err = collect(); !err.empty())
            return err;
        return interpret(out);
    }

private:
    struct Entry {
        std::string keyword;  // as the file spells it
        std::string value;
    };

    std::string collect()
    {
        for (;;) {
            const std::string_view keyToken = reader_.next();
            if (keyToken.empty())
                break;
            const std::optional<Key> key = keywordOf(keyToken);
            if (!key) {
                float probe = 0.0f;
                if (ascii_ && parseFloatToken(keyToken, probe)) {
                    reader_.unget();  // the first cell value: the header is over
                    break;
                }
                if (last_.empty())
                    return "unknown keyword " + quoted(keyToken);
                return "unknown keyword " + quoted(keyToken) + " after keyword " + quoted(last_);
            }
            const std::string keyword(keyToken);
            const std::string_view valueToken = reader_.next();
            if (valueToken.empty() || keywordOf(valueToken)) {
                if (reader_.tooLong())
                    break;
                return "keyword " + quoted(keyword) + " has no value";
            }
            std::optional<Entry> &slot = seen_[*key];
            if (slot) {
                if (lower(slot->keyword) == lower(keyword))
                    return "keyword " + quoted(keyword) + " is given twice";
                return "keywords " + quoted(slot->keyword) + " and " + quoted(keyword) +
                       " both give the same value";
            }
            slot = Entry{keyword, std::string(valueToken)};
            last_ = keyword;
        }
        if (reader_.tooLong())
            return "a header token is too long";
        return {};
    }

    bool has(Key k) const { return seen_[k].has_value(); }
    const std::string &name(Key k) const { return seen_[k]->keyword; }
    const std::string &text(Key k) const { return seen_[k]->value; }

    std::string unreadable(Key k) const
    {
        return "cannot read the value " + quoted(text(k)) + " of keyword " + quoted(name(k));
    }

    std::string integer(Key k, int64_t &v) const
    {
        return parseInt64(text(k), v) ? std::string() : unreadable(k);
    }

    std::string real(Key k, double &v) const
    {
        if (!parseDouble(text(k), v))
            return unreadable(k);
        if (!std::isfinite(v))
            return "keyword " + quoted(name(k)) + " must be finite, not " + quoted(text(k));
        return {};
    }

    std::string single(Key k, float &v) const
    {
        if (!parseFloatToken(text(k), v))
            return unreadable(k);
        double d = 0.0;
        if (!std::isfinite(v) && parseDouble(text(k), d) && std::isfinite(d))
            return "keyword " + quoted(name(k)) + " is " + quoted(text(k)) +
                   ", beyond single precision";
        if (!std::isfinite(v))
            return "keyword " + quoted(name(k)) + " must be finite, not " + quoted(text(k));
        return {};
    }

    std::string count(Key k, int32_t &out) const
    {
        if (!has(k))
            return "keyword " + quoted(k == kNCols ? "ncols" : "nrows") + " is missing";
        int64_t v = 0;
        if (std::string err = integer(k, v); !err.empty())
            return err;
        if (v <= 0 || v > INT32_MAX)
            return "keyword " + quoted(name(k)) + " must be a positive 32-bit count";
        out = static_cast<int32_t>(v);
        return {};
    }

    std::string positiveSide(Key k, double &v) const
    {
        if (!parseDouble(text(k), v))
            return unreadable(k);
        if (!(v > 0.0) || !std::isfinite(v))
            return "keyword " + quoted(name(k)) + " is " + quoted(text(k)) +
                   ": the cell size must be positive and finite";
        return {};
    }

    // Band-interleaved layout of the cell data: one band of 32-bit floats,
    // rows packed without padding.
    std::string checkLayout(const RasterHeader &out) const
    {
        int64_t v = 0;
        if (has(kNBands)) {
            if (std::string err = integer(kNBands, v); !err.empty())
                return err;
            if (v != 1)
                return "keyword " + quoted(name(kNBands)) + " is " + text(kNBands) +
                       ": only a single-band grid can be used";
        }
        if (has(kPixelType) && lower(text(kPixelType)) != "float")
            return "keyword " + quoted(name(kPixelType)) + " is " + quoted(text(kPixelType)) +
                   ": only FLOAT cells can be used";
        // Without PIXELTYPE the .flt extension itself says floating point.
        if (has(kNBits)) {
            if (std::string err = integer(kNBits, v); !err.empty())
                return err;
            if (v != 32)
                return "keyword " + quoted(name(kNBits)) + " is " + text(kNBits) +
                       ": only 32-bit floating-point cells can be used";
        }
        if (has(kLayout)) {
            const std::string l = lower(text(kLayout));
            if (l != "bil" && l != "bip" && l != "bsq")
                return "keyword " + quoted(name(kLayout)) + " is " + quoted(text(kLayout)) +
                       ": expected BIL, BIP or BSQ";
        }
        const int64_t rowBytes = int64_t{out.nCols} * 4;
        for (Key k : {kBandRowBytes, kTotalRowBytes}) {
            if (!has(k))
                continue;
            if (std::string err = integer(k, v); !err.empty())
                return err;
            if (v != rowBytes)
                return "keyword " + quoted(name(k)) + " is " + text(k) + " but a row of " +
                       std::to_string(out.nCols) + " float cells takes " + std::to_string(rowBytes) +
                       " bytes";
        }
        for (Key k : {kSkipBytes, kBandGapBytes}) {
            if (!has(k))
                continue;
            if (std::string err = integer(k, v); !err.empty())
                return err;
            if (v != 0)
                return "keyword " + quoted(name(k)) + " is " + text(k) + ": only 0 can be used";
        }
        if (has(kByteOrder)) {
            const std::string b = lower(text(kByteOrder));
            if (b == "lsbfirst" || b == "i")
                return {};
            if (b != "msbfirst" && b != "m")
                return "keyword " + quoted(name(kByteOrder)) + " is " + quoted(text(kByteOrder)) +
                       ": expected LSBFIRST (I) or MSBFIRST (M)";
        }
        return {};
    }

    // The cell side from cellsize, dx/dy or XDIM/YDIM, whichever are given;
    // they must agree and describe square cells.
    std::string cellSides(const RasterHeader &out, double &xSide, double &ySide, float &cellsize) const
    {
        const int64_t extent = std::max(out.nCols, out.nRows);
        std::optional<double> x, y;
        Key xKey = kKeyCount;
        for (const auto &[kx, ky] : {std::pair{kDx, kDy}, std::pair{kXDim, kYDim}}) {
            if (!has(kx) && !has(ky))
                continue;
            if (!has(kx) || !has(ky)) {
                const Key given = has(kx) ? kx : ky;
                return "keyword " + quoted(name(given)) + " is given without " +
                       quoted(given == kx ? (kx == kDx ? "dy" : "YDIM") : (kx == kDx ? "dx" : "XDIM"));
            }
            double a = 0.0, b = 0.0;
            if (std::string err = positiveSide(kx, a); !err.empty())
                return err;
            if (std::string err = positiveSide(ky, b); !err.empty())
                return err;
            if (!sameSide(a, b, extent))
                return "keywords " + quoted(name(kx)) + " (" + text(kx) + ") and " + quoted(name(ky)) +
                       " (" + text(ky) + ") differ: only square cells can be used";
            if (x && !(sameSide(*x, a, extent) && sameSide(*y, b, extent)))
                return "keywords " + quoted(name(xKey)) + " and " + quoted(name(kx)) +
                       " give different cell sizes";
            x = a;
            y = b;
            xKey = kx;
        }
        if (has(kCellSize)) {
            double c = 0.0;
            if (std::string err = positiveSide(kCellSize, c); !err.empty())
                return err;
            if (x && !(sameSide(c, *x, extent) && sameSide(c, *y, extent)))
                return "keywords " + quoted(name(kCellSize)) + " (" + text(kCellSize) + ") and " +
                       quoted(name(xKey)) + " (" + text(xKey) + ") give different cell sizes";
            // As the classic header was always read: the text rounded once
            // to single precision.
            if (std::string err = single(kCellSize, cellsize); !err.empty())
                return err;
            xSide = ySide = c;
        } else if (x) {
            xSide = *x;
            ySide = *y;
            cellsize = static_cast<float>((*x + *y) / 2.0);
        } else {
            return "keyword 'cellsize' is missing";
        }
        if (!(cellsize > 0.0f) || !std::isfinite(cellsize))
            return "the cell size " + quoted(has(kCellSize) ? text(kCellSize) : text(xKey)) +
                   " does not fit single precision";
        return {};
    }

    bool interleavedHeader() const
    {
        for (Key k : {kLayout, kNBands, kNBits, kPixelType, kBandRowBytes, kTotalRowBytes, kXDim,
                      kYDim, kUlxMap, kUlyMap})
            if (has(k))
                return true;
        return false;
    }

    // West or south edge of the grid from one axis' keywords: the corner,
    // the centre of the corner cell, or (ULXMAP/ULYMAP) the centre of the
    // north-west cell.
    std::string edge(Key corner, Key centre, Key upperLeft, double side, bool isY, float &out) const
    {
        const Key given[] = {corner, centre, upperLeft};
        Key first = kKeyCount;
        for (Key k : given) {
            if (!has(k))
                continue;
            if (first != kKeyCount)
                return "keywords " + quoted(name(first)) + " and " + quoted(name(k)) +
                       " both place the grid";
            first = k;
        }
        if (first == kKeyCount) {
            if (interleavedHeader())
                return "keyword " + quoted(isY ? "ULYMAP" : "ULXMAP") + " is missing";
            return "keyword " + quoted(isY ? "yllcorner" : "xllcorner") + " is missing";
        }
        if (first == corner) {
            // Rounded once, exactly as the classic header was read.
            if (std::string err = single(corner, out); !err.empty())
                return err;
            return {};
        }
        double v = 0.0;
        if (std::string err = real(first, v); !err.empty())
            return err;
        double edgeValue = v - side / 2.0;
        if (first == upperLeft && isY)
            edgeValue = v + side / 2.0 - static_cast<double>(rows_) * side;
        out = static_cast<float>(edgeValue);
        if (!std::isfinite(out))
            return "keyword " + quoted(name(first)) + " (" + text(first) +
                   ") does not fit single precision";
        return {};
    }

    std::string interpret(RasterHeader &out)
    {
        if (std::string err = count(kNCols, out.nCols); !err.empty())
            return err;
        if (std::string err = count(kNRows, out.nRows); !err.empty())
            return err;
        rows_ = out.nRows;
        if (std::string err = checkLayout(out); !err.empty())
            return err;
        if (has(kByteOrder)) {
            const std::string b = lower(text(kByteOrder));
            out.bigEndian = b == "msbfirst" || b == "m";
        }
        if (has(kRotation)) {
            double r = 0.0;
            if (std::string err = real(kRotation, r); !err.empty())
                return err;
            if (r != 0.0)
                return "keyword " + quoted(name(kRotation)) + " is " + text(kRotation) +
                       ": a rotated grid cannot be used";
        }

        bool georeferenced = false;
        for (Key k : {kXllCorner, kXllCenter, kYllCorner, kYllCenter, kUlxMap, kUlyMap, kCellSize,
                      kDx, kDy, kXDim, kYDim})
            georeferenced = georeferenced || has(k);
        if (!georeferenced && interleavedHeader())
            return "keywords 'ULXMAP', 'ULYMAP', 'XDIM' and 'YDIM' are missing: the header does "
                   "not place the grid (GDAL leaves them out for a rotated grid, which cannot be "
                   "used)";

        double xSide = 0.0, ySide = 0.0;
        if (std::string err = cellSides(out, xSide, ySide, out.cellsize); !err.empty())
            return err;
        if (std::string err = edge(kXllCorner, kXllCenter, kUlxMap, xSide, false, out.minx); !err.empty())
            return err;
        if (std::string err = edge(kYllCorner, kYllCenter, kUlyMap, ySide, true, out.miny); !err.empty())
            return err;

        out.hasNodata = has(kNodata);
        if (out.hasNodata) {
            // A NaN marker is kept: it is what GDAL writes for a NaN nodata.
            if (!parseFloatToken(text(kNodata), out.nodata))
                return unreadable(kNodata);
        }
        return {};
    }

    TextReader &reader_;
    bool ascii_;
    std::array<std::optional<Entry>, kKeyCount> seen_;
    std::string last_;
    int32_t rows_ = 0;
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
