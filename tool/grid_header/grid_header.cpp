// Interpreting grid headers: what the keywords mean together.
//
// What the loaders cannot represent (several bands, integer cells,
// non-square or rotated cells, padded rows) is refused, never approximated.
#include "grid_header/grid_header.h"

#include "grid_header/header_entries.h"
#include "text/numeric_text.h"
#include "text/quoted_token.h"
#include "text/text_reader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

namespace morvane {

namespace {

// Two cell sides are taken as one when, across the whole grid, they drift
// apart by less than a thousandth of a cell: that is printing noise (GDAL
// writes XDIM and YDIM from the same geotransform with 15 digits), not
// rectangular cells.
bool sameSide(double a, double b, int64_t extent)
{
    return std::fabs(a - b) * static_cast<double>(extent) <= 1e-3 * std::fmin(a, b);
}

// Band-interleaved layout of the cell data: one band of 32-bit floats,
// rows packed without padding.
void checkLayout(const HeaderEntries &e, int32_t cols)
{
    e.require(HeaderKey::NBands, 1, ": only a single-band grid can be used");
    if (e.has(HeaderKey::PixelType) && lowerAscii(e.text(HeaderKey::PixelType)) != "float")
        refuseHeader("keyword " + quotedToken(e.name(HeaderKey::PixelType)) + " is " +
                     quotedToken(e.text(HeaderKey::PixelType)) + ": only FLOAT cells can be used");
    // Without PIXELTYPE the .flt extension itself says floating point.
    e.require(HeaderKey::NBits, 32, ": only 32-bit floating-point cells can be used");
    if (e.has(HeaderKey::Layout)) {
        const std::string l = lowerAscii(e.text(HeaderKey::Layout));
        if (l != "bil" && l != "bip" && l != "bsq")
            refuseHeader("keyword " + quotedToken(e.name(HeaderKey::Layout)) + " is " +
                         quotedToken(e.text(HeaderKey::Layout)) + ": expected BIL, BIP or BSQ");
    }
    const int64_t rowBytes = int64_t{cols} * 4;
    for (HeaderKey k : {HeaderKey::BandRowBytes, HeaderKey::TotalRowBytes})
        e.require(k, rowBytes,
                  " but a row of " + std::to_string(cols) + " float cells takes " + std::to_string(rowBytes) +
                      " bytes");
    for (HeaderKey k : {HeaderKey::SkipBytes, HeaderKey::BandGapBytes})
        e.require(k, 0, ": only 0 can be used");
}

bool bigEndian(const HeaderEntries &e)
{
    if (!e.has(HeaderKey::ByteOrder))
        return false;
    const std::string order = lowerAscii(e.text(HeaderKey::ByteOrder));
    if (order == "msbfirst" || order == "m")
        return true;
    if (order != "lsbfirst" && order != "i")
        refuseHeader("keyword " + quotedToken(e.name(HeaderKey::ByteOrder)) + " is " +
                     quotedToken(e.text(HeaderKey::ByteOrder)) + ": expected LSBFIRST (I) or MSBFIRST (M)");
    return false;
}

// The cell side from cellsize, dx/dy or XDIM/YDIM, whichever are given;
// they must agree and describe square cells. Returns the x and y sides.
std::pair<double, double> cellSides(const HeaderEntries &e, int64_t extent)
{
    std::optional<std::pair<double, double>> sides;
    HeaderKey xKey = HeaderKey::Count;
    for (const auto &[kx, ky] :
         {std::pair{HeaderKey::Dx, HeaderKey::Dy}, std::pair{HeaderKey::XDim, HeaderKey::YDim}}) {
        if (!e.has(kx) && !e.has(ky))
            continue;
        if (!e.has(kx) || !e.has(ky)) {
            const HeaderKey given = e.has(kx) ? kx : ky;
            refuseHeader("keyword " + quotedToken(e.name(given)) + " is given without " +
                         quotedToken(given == kx ? (kx == HeaderKey::Dx ? "dy" : "YDIM")
                                                 : (kx == HeaderKey::Dx ? "dx" : "XDIM")));
        }
        const double a = e.positiveSide(kx), b = e.positiveSide(ky);
        if (!sameSide(a, b, extent))
            refuseHeader("keywords " + quotedToken(e.name(kx)) + " (" + e.text(kx) + ") and " +
                         quotedToken(e.name(ky)) + " (" + e.text(ky) + ") differ: only square cells can be used");
        if (sides && !(sameSide(sides->first, a, extent) && sameSide(sides->second, b, extent)))
            refuseHeader("keywords " + quotedToken(e.name(xKey)) + " and " + quotedToken(e.name(kx)) +
                         " give different cell sizes");
        sides = std::pair{a, b};
        xKey = kx;
    }
    if (e.has(HeaderKey::CellSize)) {
        const double c = e.positiveSide(HeaderKey::CellSize);
        if (sides && !(sameSide(c, sides->first, extent) && sameSide(c, sides->second, extent)))
            refuseHeader("keywords " + quotedToken(e.name(HeaderKey::CellSize)) + " (" + e.text(HeaderKey::CellSize) +
                         ") and " + quotedToken(e.name(xKey)) + " (" + e.text(xKey) + ") give different cell sizes");
        return {c, c};
    }
    if (!sides)
        refuseHeader("keyword 'cellsize' is missing");
    return *sides;
}

bool interleavedHeader(const HeaderEntries &e)
{
    for (HeaderKey k :
         {HeaderKey::Layout, HeaderKey::NBands, HeaderKey::NBits, HeaderKey::PixelType, HeaderKey::BandRowBytes,
          HeaderKey::TotalRowBytes, HeaderKey::XDim, HeaderKey::YDim, HeaderKey::UlxMap, HeaderKey::UlyMap})
        if (e.has(k))
            return true;
    return false;
}

// West or south edge of the grid from one axis' keywords: the corner,
// the centre of the corner cell, or (ULXMAP/ULYMAP) the centre of the
// north-west cell. All in double, as the file gives them.
double edge(const HeaderEntries &e, HeaderKey corner, HeaderKey centre, HeaderKey upperLeft, double side, bool isY,
            int32_t rows)
{
    HeaderKey first = HeaderKey::Count;
    for (HeaderKey k : {corner, centre, upperLeft}) {
        if (!e.has(k))
            continue;
        if (first != HeaderKey::Count)
            refuseHeader("keywords " + quotedToken(e.name(first)) + " and " + quotedToken(e.name(k)) +
                         " both place the grid");
        first = k;
    }
    if (first == HeaderKey::Count) {
        if (interleavedHeader(e))
            refuseHeader("keyword " + quotedToken(isY ? "ULYMAP" : "ULXMAP") + " is missing");
        refuseHeader("keyword " + quotedToken(isY ? "yllcorner" : "xllcorner") + " is missing");
    }
    const double v = e.real(first);
    if (first == corner)
        return v;
    if (first == upperLeft && isY)
        return v + side / 2.0 - static_cast<double>(rows) * side;
    return v - side / 2.0;
}

void interpret(const HeaderEntries &e, GridHeader &out)
{
    GridGeometry &g = out.grid;
    g.cols = e.count(HeaderKey::NCols);
    g.rows = e.count(HeaderKey::NRows);
    checkLayout(e, g.cols);
    out.bigEndian = bigEndian(e);
    if (e.has(HeaderKey::Rotation) && e.real(HeaderKey::Rotation) != 0.0)
        refuseHeader("keyword " + quotedToken(e.name(HeaderKey::Rotation)) + " is " + e.text(HeaderKey::Rotation) +
                     ": a rotated grid cannot be used");

    bool georeferenced = false;
    for (HeaderKey k :
         {HeaderKey::XllCorner, HeaderKey::XllCenter, HeaderKey::YllCorner, HeaderKey::YllCenter, HeaderKey::UlxMap,
          HeaderKey::UlyMap, HeaderKey::CellSize, HeaderKey::Dx, HeaderKey::Dy, HeaderKey::XDim, HeaderKey::YDim})
        georeferenced = georeferenced || e.has(k);
    if (!georeferenced && interleavedHeader(e))
        refuseHeader("keywords 'ULXMAP', 'ULYMAP', 'XDIM' and 'YDIM' are missing: the header does not place the grid "
                     "(GDAL leaves them out for a rotated grid, which cannot be used)");

    const auto [xSide, ySide] = cellSides(e, std::max(g.cols, g.rows));
    // XDIM and YDIM that differ only by printing noise make one side.
    g.cellsize = e.has(HeaderKey::CellSize) ? xSide : (xSide + ySide) / 2.0;
    g.minx = edge(e, HeaderKey::XllCorner, HeaderKey::XllCenter, HeaderKey::UlxMap, xSide, false, g.rows);
    g.miny = edge(e, HeaderKey::YllCorner, HeaderKey::YllCenter, HeaderKey::UlyMap, ySide, true, g.rows);
    if (!std::isfinite(g.minx) || !std::isfinite(g.miny))
        refuseHeader("the grid's corner lies beyond the range of coordinates");

    out.hasNodata = e.has(HeaderKey::Nodata);
    // A NaN marker is kept: it is what GDAL writes for a NaN nodata.
    if (out.hasNodata && !parseFloatToken(e.text(HeaderKey::Nodata), out.nodata))
        e.unreadable(HeaderKey::Nodata);
}

std::string parse(TextReader &reader, bool ascii, GridHeader &out)
{
    std::string reason;
    try {
        interpret(HeaderEntries(reader, ascii), out);
    } catch (const HeaderError &e) {
        reason = e.reason;
    }
    // A file that cannot be read (a directory, say) is refused for that,
    // not for the keywords it seemed to lack.
    if (reader.readError() != 0)
        reason = std::strerror(reader.readError());
    return reason;
}

}  // namespace

std::string parseAsciiGridHeader(TextReader &reader, GridHeader &out)
{
    std::string reason = parse(reader, true, out);
    out.dataOffset = reader.lastTokenOffset();  // the value handed back
    return reason;
}

std::string parseFloatGridHeader(TextReader &reader, GridHeader &out)
{
    return parse(reader, false, out);
}

}  // namespace morvane
