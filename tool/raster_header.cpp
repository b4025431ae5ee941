// Reading grid headers by keyword, in any order and letter case.
//
// Keywords are gathered first and interpreted once the header is complete,
// so that every refusal can name the keyword as the file spells it. What the
// loaders cannot represent (several bands, integer cells, non-square or
// rotated cells, padded rows) is refused, never approximated.
#include "raster_header.h"

#include "header_keywords.h"
#include "numeric_text.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace {

using namespace grid_header;

// Why a header cannot be used, naming the keyword at fault.
struct HeaderError {
    std::string reason;
};

[[noreturn]] void refuse(std::string reason)
{
    throw HeaderError{std::move(reason)};
}

std::string quoted(std::string_view s)
{
    return quotedToken(s);
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

    void run(RasterHeader &out)
    {
        collect();
        interpret(out);
    }

private:
    struct Entry {
        std::string keyword;  // as the file spells it
        std::string value;
    };

    void collect()
    {
        std::string last;
        for (;;) {
            const std::string_view keyToken = reader_.next();
            if (keyToken.empty())
                break;
            const std::optional<Key> key = keywordOf(keyToken);
            if (!key) {
                float probe = 0.0f;
                if (ascii_ && (parseFloatToken(keyToken, probe) || complete())) {
                    reader_.unget();  // the first cell value, or one that is no number: the header is over
                    break;
                }
                if (last.empty())
                    refuse("unknown keyword " + quoted(keyToken));
                refuse("unknown keyword " + quoted(keyToken) + " after keyword " + quoted(last));
            }
            const std::string keyword(keyToken);
            const std::string_view valueToken = reader_.next();
            if (valueToken.empty() || keywordOf(valueToken)) {
                if (reader_.tooLong())
                    break;
                refuse("keyword " + quoted(keyword) + " has no value");
            }
            std::optional<Entry> &slot = seen_[*key];
            if (slot) {
                if (lower(slot->keyword) == lower(keyword))
                    refuse("keyword " + quoted(keyword) + " is given twice");
                refuse("keywords " + quoted(slot->keyword) + " and " + quoted(keyword) + " both give the same value");
            }
            slot = Entry{keyword, std::string(valueToken)};
            last = keyword;
        }
        if (reader_.tooLong())
            refuse("a header token is too long");
    }

    bool has(Key k) const { return seen_[k].has_value(); }

    // Everything an ASCII grid's header must give has been given: what
    // follows is data, even when it is no number.
    bool complete() const
    {
        return has(kNCols) && has(kNRows) && (has(kXllCorner) || has(kXllCenter)) &&
               (has(kYllCorner) || has(kYllCenter)) && (has(kCellSize) || has(kDx));
    }
    const std::string &name(Key k) const { return seen_[k]->keyword; }
    const std::string &text(Key k) const { return seen_[k]->value; }

    [[noreturn]] void unreadable(Key k) const
    {
        refuse("cannot read the value " + quoted(text(k)) + " of keyword " + quoted(name(k)));
    }

    int64_t integer(Key k) const
    {
        int64_t v = 0;
        if (!numeric_text::parseInteger(text(k), v))
            unreadable(k);
        return v;
    }

    double real(Key k) const
    {
        double v = 0.0;
        if (!numeric_text::parseDouble(text(k), v))
            unreadable(k);
        if (!std::isfinite(v))
            refuse("keyword " + quoted(name(k)) + " must be finite, not " + quoted(text(k)));
        return v;
    }

    int32_t count(Key k) const
    {
        if (!has(k))
            refuse("keyword " + quoted(k == kNCols ? "ncols" : "nrows") + " is missing");
        const int64_t v = integer(k);
        if (v <= 0 || v > INT32_MAX)
            refuse("keyword " + quoted(name(k)) + " must be a positive 32-bit count");
        return static_cast<int32_t>(v);
    }

    double positiveSide(Key k) const
    {
        double v = 0.0;
        if (!numeric_text::parseDouble(text(k), v))
            unreadable(k);
        if (!(v > 0.0) || !std::isfinite(v))
            refuse("keyword " + quoted(name(k)) + " is " + quoted(text(k)) +
                   ": the cell size must be positive and finite");
        return v;
    }

    // A keyword whose integer value must be exactly `expected`.
    void require(Key k, int64_t expected, const std::string &why) const
    {
        if (has(k) && integer(k) != expected)
            refuse("keyword " + quoted(name(k)) + " is " + text(k) + why);
    }

    // Band-interleaved layout of the cell data: one band of 32-bit floats,
    // rows packed without padding.
    void checkLayout(int32_t cols) const
    {
        require(kNBands, 1, ": only a single-band grid can be used");
        if (has(kPixelType) && lower(text(kPixelType)) != "float")
            refuse("keyword " + quoted(name(kPixelType)) + " is " + quoted(text(kPixelType)) +
                   ": only FLOAT cells can be used");
        // Without PIXELTYPE the .flt extension itself says floating point.
        require(kNBits, 32, ": only 32-bit floating-point cells can be used");
        if (has(kLayout)) {
            const std::string l = lower(text(kLayout));
            if (l != "bil" && l != "bip" && l != "bsq")
                refuse("keyword " + quoted(name(kLayout)) + " is " + quoted(text(kLayout)) +
                       ": expected BIL, BIP or BSQ");
        }
        const int64_t rowBytes = int64_t{cols} * 4;
        for (Key k : {kBandRowBytes, kTotalRowBytes})
            require(k, rowBytes,
                    " but a row of " + std::to_string(cols) + " float cells takes " + std::to_string(rowBytes) +
                        " bytes");
        for (Key k : {kSkipBytes, kBandGapBytes})
            require(k, 0, ": only 0 can be used");
    }

    bool bigEndian() const
    {
        if (!has(kByteOrder))
            return false;
        const std::string order = lower(text(kByteOrder));
        if (order == "msbfirst" || order == "m")
            return true;
        if (order != "lsbfirst" && order != "i")
            refuse("keyword " + quoted(name(kByteOrder)) + " is " + quoted(text(kByteOrder)) +
                   ": expected LSBFIRST (I) or MSBFIRST (M)");
        return false;
    }

    // The cell side from cellsize, dx/dy or XDIM/YDIM, whichever are given;
    // they must agree and describe square cells. Returns the x and y sides.
    std::pair<double, double> cellSides(int64_t extent) const
    {
        std::optional<std::pair<double, double>> sides;
        Key xKey = kKeyCount;
        for (const auto &[kx, ky] : {std::pair{kDx, kDy}, std::pair{kXDim, kYDim}}) {
            if (!has(kx) && !has(ky))
                continue;
            if (!has(kx) || !has(ky)) {
                const Key given = has(kx) ? kx : ky;
                refuse("keyword " + quoted(name(given)) + " is given without " +
                       quoted(given == kx ? (kx == kDx ? "dy" : "YDIM") : (kx == kDx ? "dx" : "XDIM")));
            }
            const double a = positiveSide(kx), b = positiveSide(ky);
            if (!sameSide(a, b, extent))
                refuse("keywords " + quoted(name(kx)) + " (" + text(kx) + ") and " + quoted(name(ky)) + " (" +
                       text(ky) + ") differ: only square cells can be used");
            if (sides && !(sameSide(sides->first, a, extent) && sameSide(sides->second, b, extent)))
                refuse("keywords " + quoted(name(xKey)) + " and " + quoted(name(kx)) + " give different cell sizes");
            sides = std::pair{a, b};
            xKey = kx;
        }
        if (has(kCellSize)) {
            const double c = positiveSide(kCellSize);
            if (sides && !(sameSide(c, sides->first, extent) && sameSide(c, sides->second, extent)))
                refuse("keywords " + quoted(name(kCellSize)) + " (" + text(kCellSize) + ") and " + quoted(name(xKey)) +
                       " (" + text(xKey) + ") give different cell sizes");
            return {c, c};
        }
        if (!sides)
            refuse("keyword 'cellsize' is missing");
        return *sides;
    }

    bool interleavedHeader() const
    {
        for (Key k :
             {kLayout, kNBands, kNBits, kPixelType, kBandRowBytes, kTotalRowBytes, kXDim, kYDim, kUlxMap, kUlyMap})
            if (has(k))
                return true;
        return false;
    }

    // West or south edge of the grid from one axis' keywords: the corner,
    // the centre of the corner cell, or (ULXMAP/ULYMAP) the centre of the
    // north-west cell. All in double, as the file gives them.
    double edge(Key corner, Key centre, Key upperLeft, double side, bool isY, int32_t rows) const
    {
        Key first = kKeyCount;
        for (Key k : {corner, centre, upperLeft}) {
            if (!has(k))
                continue;
            if (first != kKeyCount)
                refuse("keywords " + quoted(name(first)) + " and " + quoted(name(k)) + " both place the grid");
            first = k;
        }
        if (first == kKeyCount) {
            if (interleavedHeader())
                refuse("keyword " + quoted(isY ? "ULYMAP" : "ULXMAP") + " is missing");
            refuse("keyword " + quoted(isY ? "yllcorner" : "xllcorner") + " is missing");
        }
        const double v = real(first);
        if (first == corner)
            return v;
        if (first == upperLeft && isY)
            return v + side / 2.0 - static_cast<double>(rows) * side;
        return v - side / 2.0;
    }

    void interpret(RasterHeader &out)
    {
        GridGeometry &g = out.grid;
        g.cols = count(kNCols);
        g.rows = count(kNRows);
        checkLayout(g.cols);
        out.bigEndian = bigEndian();
        if (has(kRotation) && real(kRotation) != 0.0)
            refuse("keyword " + quoted(name(kRotation)) + " is " + text(kRotation) + ": a rotated grid cannot be used");

        bool georeferenced = false;
        for (Key k :
             {kXllCorner, kXllCenter, kYllCorner, kYllCenter, kUlxMap, kUlyMap, kCellSize, kDx, kDy, kXDim, kYDim})
            georeferenced = georeferenced || has(k);
        if (!georeferenced && interleavedHeader())
            refuse("keywords 'ULXMAP', 'ULYMAP', 'XDIM' and 'YDIM' are missing: the header does not place the grid "
                   "(GDAL leaves them out for a rotated grid, which cannot be used)");

        const auto [xSide, ySide] = cellSides(std::max(g.cols, g.rows));
        // XDIM and YDIM that differ only by printing noise make one side.
        g.cellsize = has(kCellSize) ? xSide : (xSide + ySide) / 2.0;
        g.minx = edge(kXllCorner, kXllCenter, kUlxMap, xSide, false, g.rows);
        g.miny = edge(kYllCorner, kYllCenter, kUlyMap, ySide, true, g.rows);
        if (!std::isfinite(g.minx) || !std::isfinite(g.miny))
            refuse("the grid's corner lies beyond the range of coordinates");

        out.hasNodata = has(kNodata);
        // A NaN marker is kept: it is what GDAL writes for a NaN nodata.
        if (out.hasNodata && !parseFloatToken(text(kNodata), out.nodata))
            unreadable(kNodata);
    }

    TextReader &reader_;
    bool ascii_;
    std::array<std::optional<Entry>, kKeyCount> seen_;
};

std::string parse(TextReader &reader, bool ascii, RasterHeader &out)
{
    try {
        HeaderParser(reader, ascii).run(out);
    } catch (const HeaderError &e) {
        return e.reason;
    }
    return {};
}

}  // namespace

std::string parseAsciiGridHeader(TextReader &reader, RasterHeader &out)
{
    return parse(reader, true, out);
}

std::string parseFloatGridHeader(TextReader &reader, RasterHeader &out)
{
    return parse(reader, false, out);
}
