// Interpreting grid headers: what the keywords mean together.
//
// What the loaders cannot represent (several bands, integer cells,
// non-square or rotated cells, padded rows) is refused, never approximated.
#include "grid_header/raster_header.h"

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
    e.require(kNBands, 1, ": only a single-band grid can be used");
    if (e.has(kPixelType) && lowerAscii(e.text(kPixelType)) != "float")
        refuseHeader("keyword " + quotedToken(e.name(kPixelType)) + " is " + quotedToken(e.text(kPixelType)) +
                     ": only FLOAT cells can be used");
    // Without PIXELTYPE the .flt extension itself says floating point.
    e.require(kNBits, 32, ": only 32-bit floating-point cells can be used");
    if (e.has(kLayout)) {
        const std::string l = lowerAscii(e.text(kLayout));
        if (l != "bil" && l != "bip" && l != "bsq")
            refuseHeader("keyword " + quotedToken(e.name(kLayout)) + " is " + quotedToken(e.text(kLayout)) +
                         ": expected BIL, BIP or BSQ");
    }
    const int64_t rowBytes = int64_t{cols} * 4;
    for (HeaderKey k : {kBandRowBytes, kTotalRowBytes})
        e.require(k, rowBytes,
                  " but a row of " + std::to_string(cols) + " float cells takes " + std::to_string(rowBytes) +
                      " bytes");
    for (HeaderKey k : {kSkipBytes, kBandGapBytes})
        e.require(k, 0, ": only 0 can be used");
}

bool bigEndian(const HeaderEntries &e)
{
    if (!e.has(kByteOrder))
        return false;
    const std::string order = lowerAscii(e.text(kByteOrder));
    if (order == "msbfirst" || order == "m")
        return true;
    if (order != "lsbfirst" && order != "i")
        refuseHeader("keyword " + quotedToken(e.name(kByteOrder)) + " is " + quotedToken(e.text(kByteOrder)) +
                     ": expected LSBFIRST (I) or MSBFIRST (M)");
    return false;
}

// The cell side from cellsize, dx/dy or XDIM/YDIM, whichever are given;
// they must agree and describe square cells. Returns the x and y sides.
std::pair<double, double> cellSides(const HeaderEntries &e, int64_t extent)
{
    std::optional<std::pair<double, double>> sides;
    HeaderKey xKey = kKeyCount;
    for (const auto &[kx, ky] : {std::pair{kDx, kDy}, std::pair{kXDim, kYDim}}) {
        if (!e.has(kx) && !e.has(ky))
            continue;
        if (!e.has(kx) || !e.has(ky)) {
            const HeaderKey given = e.has(kx) ? kx : ky;
            refuseHeader("keyword " + quotedToken(e.name(given)) + " is given without " +
                         quotedToken(given == kx ? (kx == kDx ? "dy" : "YDIM") : (kx == kDx ? "dx" : "XDIM")));
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
    if (e.has(kCellSize)) {
        const double c = e.positiveSide(kCellSize);
        if (sides && !(sameSide(c, sides->first, extent) && sameSide(c, sides->second, extent)))
            refuseHeader("keywords " + quotedToken(e.name(kCellSize)) + " (" + e.text(kCellSize) + ") and " +
                         quotedToken(e.name(xKey)) + " (" + e.text(xKey) + ") give different cell sizes");
        return {c, c};
    }
    if (!sides)
        refuseHeader("keyword 'cellsize' is missing");
    return *sides;
}

bool interleavedHeader(const HeaderEntries &e)
{
    for (HeaderKey k :
         {kLayout, kNBands, kNBits, kPixelType, kBandRowBytes, kTotalRowBytes, kXDim, kYDim, kUlxMap, kUlyMap})
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
    HeaderKey first = kKeyCount;
    for (HeaderKey k : {corner, centre, upperLeft}) {
        if (!e.has(k))
            continue;
        if (first != kKeyCount)
            refuseHeader("keywords " + quotedToken(e.name(first)) + " and " + quotedToken(e.name(k)) +
                         " both place the grid");
        first = k;
    }
    if (first == kKeyCount) {
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

void interpret(const HeaderEntries &e, RasterHeader &out)
{
    GridGeometry &g = out.grid;
    g.cols = e.count(kNCols);
    g.rows = e.count(kNRows);
    checkLayout(e, g.cols);
    out.bigEndian = bigEndian(e);
    if (e.has(kRotation) && e.real(kRotation) != 0.0)
        refuseHeader("keyword " + quotedToken(e.name(kRotation)) + " is " + e.text(kRotation) +
                     ": a rotated grid cannot be used");

    bool georeferenced = false;
    for (HeaderKey k :
         {kXllCorner, kXllCenter, kYllCorner, kYllCenter, kUlxMap, kUlyMap, kCellSize, kDx, kDy, kXDim, kYDim})
        georeferenced = georeferenced || e.has(k);
    if (!georeferenced && interleavedHeader(e))
        refuseHeader("keywords 'ULXMAP', 'ULYMAP', 'XDIM' and 'YDIM' are missing: the header does not place the grid "
                     "(GDAL leaves them out for a rotated grid, which cannot be used)");

    const auto [xSide, ySide] = cellSides(e, std::max(g.cols, g.rows));
    // XDIM and YDIM that differ only by printing noise make one side.
    g.cellsize = e.has(kCellSize) ? xSide : (xSide + ySide) / 2.0;
    g.minx = edge(e, kXllCorner, kXllCenter, kUlxMap, xSide, false, g.rows);
    g.miny = edge(e, kYllCorner, kYllCenter, kUlyMap, ySide, true, g.rows);
    if (!std::isfinite(g.minx) || !std::isfinite(g.miny))
        refuseHeader("the grid's corner lies beyond the range of coordinates");

    out.hasNodata = e.has(kNodata);
    // A NaN marker is kept: it is what GDAL writes for a NaN nodata.
    if (out.hasNodata && !parseFloatToken(e.text(kNodata), out.nodata))
        e.unreadable(kNodata);
}

std::string parse(TextReader &reader, bool ascii, RasterHeader &out)
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

std::string parseAsciiGridHeader(TextReader &reader, RasterHeader &out)
{
    std::string reason = parse(reader, true, out);
    out.dataOffset = reader.lastTokenOffset();  // the value handed back
    return reason;
}

std::string parseFloatGridHeader(TextReader &reader, RasterHeader &out)
{
    return parse(reader, false, out);
}
