#include "prepared_grid.h"

#include "lidar/internal/name_form.h"
#include "record.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace batch {

namespace {

constexpr std::string_view kFirstLine = "morvane-batch prepared grid 1";

// A double that reads back as itself, for a header.
std::string exact(double v)
{
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

// A double as short as it can be written and still read back, for a message.
std::string shortest(double v)
{
    char text[40];
    const auto end = std::to_chars(text, text + sizeof text, v).ptr;
    return std::string(text, end);
}

// The raster's path without the extension of its name, and suffix after.
std::string derivedName(std::string_view raster, std::string_view suffix)
{
    const std::string_view name = baseNameOf(raster);
    const size_t dot = name.rfind('.');
    const size_t keep = raster.size() - name.size() + (dot == std::string_view::npos || dot == 0 ? name.size() : dot);
    return std::string(raster.substr(0, keep)) + std::string(suffix);
}

// Two cell sides taken as one: across the whole grid they drift apart by
// less than a thousandth of a cell (printing noise in a geotransform), as
// Morvane takes XDIM and YDIM.
bool sameSide(double a, double b, int64_t extent)
{
    return std::fabs(a - b) * static_cast<double>(extent) <= 1e-3 * std::fmin(a, b);
}

bool matches(const FileStamp &recorded, const std::string &path)
{
    return recorded.size >= 0 && stampOf(path) == recorded;
}

}  // namespace

bool readByMorvane(std::string_view raster)
{
    return lidar::has_extension(raster, "asc") || lidar::has_extension(raster, "flt");
}

std::string shapeRefusal(std::string_view raster, const SourceShape &s)
{
    const std::string name(raster);
    if (s.bands != 1)
        return "raster " + name + " has " + std::to_string(s.bands) +
               " bands; take the elevation band into a raster of its own first: gdal_translate -b 1 " + name + " " +
               derivedName(raster, "-band1.tif");
    if (s.complexCells)
        return "raster " + name + " has complex cells, which are not elevations";
    if (!s.georeferenced)
        return "raster " + name + " has no geotransform, so its cells have no place; give it one first: " +
               "gdal_translate -a_ullr ULX ULY LRX LRY " + name + " " + derivedName(raster, "-placed.tif");
    const std::array<double, 6> &t = s.transform;
    for (const double v : t)
        if (!std::isfinite(v))
            return "raster " + name + " has a geotransform that is not finite";
    // The cell's sides along its columns and rows, whatever the rotation.
    const double across = std::hypot(t[1], t[4]), down = std::hypot(t[2], t[5]);
    const std::string side = shortest(std::fmin(across, down));
    const std::string warp = "gdalwarp -tr " + side + " " + side + " " + name + " ";
    if (t[2] != 0.0 || t[4] != 0.0)
        return "raster " + name + " is rotated (geotransform terms " + shortest(t[2]) + " and " + shortest(t[4]) +
               "); resample it to north-up square cells first: " + warp + derivedName(raster, "-north-up.tif");
    if (t[1] <= 0.0 || t[5] >= 0.0)
        return "raster " + name + " is not north-up (its " + (t[5] >= 0.0 ? "rows run south to north" : "columns run east to west") +
               "); resample it to north-up cells first: " + warp + derivedName(raster, "-north-up.tif");
    if (!sameSide(t[1], -t[5], std::max(s.rows, s.cols)))
        return "raster " + name + " has cells of " + shortest(t[1]) + " x " + shortest(-t[5]) +
               ", not square; resample it to square cells first: " + warp + derivedName(raster, "-square.tif");
    return {};
}

PreparedNodata preparedNodata(std::optional<double> source, bool someCellsMasked)
{
    constexpr float kLowest = std::numeric_limits<float>::lowest();
    if (source && (std::isnan(*source) || std::isinf(*source)))
        return {static_cast<float>(*source), false};
    if (source && std::fabs(*source) <= static_cast<double>(std::numeric_limits<float>::max())) {
        const auto value = static_cast<float>(*source);
        return {value, static_cast<double>(value) != *source};
    }
    if (source || someCellsMasked)
        return {kLowest, true};
    return {};
}

std::string preparedHeader(const SourceShape &s, const PreparedNodata &nodata)
{
    const std::array<double, 6> &t = s.transform;
    std::string h = "ncols " + std::to_string(s.cols) + "\nnrows " + std::to_string(s.rows);
    h += "\nxllcorner " + exact(t[0]);
    h += "\nyllcorner " + exact(t[3] + static_cast<double>(s.rows) * t[5]);
    // Sides that differ by printing noise make one, as Morvane reads XDIM and YDIM.
    h += "\ncellsize " + exact((t[1] - t[5]) / 2.0);
    if (nodata.value)
        h += "\nNODATA_value " + (std::isnan(*nodata.value) ? std::string("nan") : exact(*nodata.value));
    h += std::endian::native == std::endian::little ? "\nbyteorder LSBFIRST\n" : "\nbyteorder MSBFIRST\n";
    return h;
}

PreparedNames preparedNames(std::string_view raster, std::string_view outdir)
{
    const std::string base = joinPath(outdir, baseNameOf(raster));
    return {base + ".flt", base + ".hdr", base + ".source"};
}

std::string formatPreparedRecord(const PreparedRecord &r)
{
    std::string t(kFirstLine);
    t += "\nraster " + escape(r.raster);
    for (const SourceFile &f : r.files)
        t += "\nfile " + escape(f.path) + " " + stampText(f.stamp);
    t += "\ngrid " + stampText(r.grid);
    t += "\nheader " + stampText(r.header) + "\n";
    return t;
}

std::optional<PreparedRecord> parsePreparedRecord(std::string_view text)
{
    if (!text.starts_with(kFirstLine) || text.substr(kFirstLine.size(), 1) != "\n" || !text.ends_with('\n'))
        return std::nullopt;
    text.remove_prefix(kFirstLine.size() + 1);
    std::vector<std::string_view> lines;
    for (size_t end; (end = text.find('\n')) != std::string_view::npos; text.remove_prefix(end + 1))
        lines.push_back(text.substr(0, end));
    // raster, one file or more, grid, header: in that order.
    if (lines.size() < 4 || !lines[0].starts_with("raster ") || !lines[lines.size() - 2].starts_with("grid ") ||
        !lines.back().starts_with("header "))
        return std::nullopt;
    PreparedRecord r;
    const auto raster = unescape(lines[0].substr(7));
    if (!raster || !parseStamp(lines[lines.size() - 2].substr(5), r.grid) ||
        !parseStamp(lines.back().substr(7), r.header))
        return std::nullopt;
    r.raster = *raster;
    for (size_t i = 1; i + 2 < lines.size(); ++i) {
        std::string_view line = lines[i];
        const size_t space = line.find(' ', 5);
        if (!line.starts_with("file ") || space == std::string_view::npos)
            return std::nullopt;
        SourceFile f;
        const auto path = unescape(line.substr(5, space - 5));
        if (!path || !parseStamp(line.substr(space + 1), f.stamp))
            return std::nullopt;
        f.path = *path;
        r.files.push_back(std::move(f));
    }
    return r;
}

bool stillMatches(const PreparedRecord &r, std::string_view raster, const PreparedNames &names)
{
    if (r.raster != raster || r.files.empty() || !matches(r.grid, names.grid) || !matches(r.header, names.header))
        return false;
    return std::all_of(r.files.begin(), r.files.end(),
                       [](const SourceFile &f) { return matches(f.stamp, f.path); });
}

std::string withoutGdalMessage(std::string_view raster)
{
    const std::string name(raster);
    return "this morvane-batch was built without GDAL and reads .asc and .flt rasters only; convert " + name +
           " first: gdal_translate -of EHdr -ot Float32 " + name + " " + derivedName(raster, ".flt");
}

}  // namespace batch
