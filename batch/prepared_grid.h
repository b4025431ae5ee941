// A raster that Morvane does not read itself (a GeoTIFF, a VRT mosaic, any
// single band GDAL reads), prepared once as a binary float grid under OUTDIR:
// what may be prepared and what to run instead, the prepared grid's header
// and NODATA value, its names, and the record of what it was made from, by
// which a later batch knows it may use it again. The GDAL calls themselves
// are in dem_preparation.cpp; nothing here needs GDAL.
#ifndef BATCH_PREPARED_GRID_H
#define BATCH_PREPARED_GRID_H

#include "file_system.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace batch {

// Whether Morvane reads the raster itself (a name ending in .asc or .flt).
bool readByMorvane(std::string_view raster);

// What GDAL says of a raster's shape.
struct SourceShape {
    int64_t rows = 0, cols = 0, bands = 0;
    bool georeferenced = false;  // whether it has a geotransform
    // GDAL's geotransform: x = t[0] + column * t[1] + row * t[2],
    // y = t[3] + column * t[4] + row * t[5], at a cell's north-west corner.
    std::array<double, 6> transform{};
    bool complexCells = false;
};

// Why the raster cannot be prepared as a grid of square north-up cells of
// one band, with the command that makes one that can; empty when it can.
std::string shapeRefusal(std::string_view raster, const SourceShape &shape);

// The NODATA value of the prepared grid. The source's own, rounded to a
// float; where it has none that a float can hold and cells are masked,
// the lowest float, which no valid cell may then hold.
struct PreparedNodata {
    std::optional<float> value;
    bool chosen = false;  // not exactly the source's: a valid cell holding it is refused
};
PreparedNodata preparedNodata(std::optional<double> sourceNodata, bool someCellsMasked);

// The prepared grid's .hdr: the six pairs of a binary float grid (corner,
// cell side), every number with 17 digits so that it reads back as the
// geotransform's own double, and the byte order.
std::string preparedHeader(const SourceShape &shape, const PreparedNodata &nodata);

// OUTDIR/<name of the raster>.flt, .hdr and .source.
struct PreparedNames {
    std::string grid, header, record;
};
PreparedNames preparedNames(std::string_view raster, std::string_view outdir);

// What a prepared grid was made from, kept beside it and written last: the
// raster's path as given, its files as GDAL lists them (a VRT's sources
// too) with their size and modification time, and the prepared .flt and
// .hdr as they were written.
struct SourceFile {
    std::string path;
    FileStamp stamp;
    bool operator==(const SourceFile &) const = default;
};
struct PreparedRecord {
    std::string raster;
    std::vector<SourceFile> files;
    FileStamp grid, header;
    bool operator==(const PreparedRecord &) const = default;
};
std::string formatPreparedRecord(const PreparedRecord &record);
// Nothing for a text that is not a whole record of this format.
std::optional<PreparedRecord> parsePreparedRecord(std::string_view text);

// Whether the record is of this raster and every file it names is still as
// it says (a file that cannot be read never is).
bool stillMatches(const PreparedRecord &record, std::string_view raster, const PreparedNames &names);

// What a build without GDAL says of a raster it cannot read, with the
// conversion to run first.
std::string withoutGdalMessage(std::string_view raster);

}  // namespace batch

#endif
