#include "sample_writer.h"

#include "LiDAR.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

struct Closer {
    void operator()(std::FILE *f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, Closer>;

constexpr float kNodata = -9999.0f;

double terrainHeight(double x, double y)
{
    return 180.0 + 25.0 * std::sin(x / 90.0) * std::cos(y / 130.0) + 0.02 * x - 0.015 * y;
}

// The grid, north row first, with a NODATA lake. Values go through the
// ASCII text so that the .asc and .flt grids hold identical cells.
std::vector<float> makeGrid(const SampleOptions &o, std::string &ascii)
{
    std::vector<float> grid(static_cast<size_t>(o.rows) * static_cast<size_t>(o.cols));
    ascii.clear();
    char text[64];
    std::snprintf(text, sizeof text, "ncols %d\nnrows %d\n", o.cols, o.rows);
    ascii += text;
    std::snprintf(text, sizeof text, "xllcorner %.3f\nyllcorner %.3f\n", o.minx, o.miny);
    ascii += text;
    std::snprintf(text, sizeof text, "cellsize %.3f\nNODATA_value -9999\n", o.cellsize);
    ascii += text;
    const double lakeX = o.cols * 0.7, lakeY = o.rows * 0.3, lakeR = std::min(o.rows, o.cols) * 0.08;
    for (int32_t fileRow = 0; fileRow < o.rows; ++fileRow) {
        const int32_t r = o.rows - 1 - fileRow;
        for (int32_t c = 0; c < o.cols; ++c) {
            const double x = o.minx + (c + 0.5) * o.cellsize;
            const double y = o.miny + (r + 0.5) * o.cellsize;
            const bool lake = std::hypot(c - lakeX, r - lakeY) < lakeR;
            // to_chars and from_chars round as "%.3f" and strtof do, and
            // take a fraction of their time on grids of millions of cells.
            float &cell = grid[static_cast<size_t>(fileRow) * static_cast<size_t>(o.cols) + static_cast<size_t>(c)];
            char *end = text;
            if (lake) {
                std::memcpy(text, "-9999", 5);
                end = text + 5;
                cell = kNodata;
            } else {
                end = std::to_chars(text, text + sizeof text, terrainHeight(x - o.minx, y - o.miny),
                                    std::chars_format::fixed, 3)
                          .ptr;
                std::from_chars(text, end, cell);
            }
            ascii.append(text, static_cast<size_t>(end - text));
            ascii += c + 1 == o.cols ? '\n' : ' ';
        }
    }
    return grid;
}

bool writeBytes(const std::string &path, const void *data, size_t size, std::string &error)
{
    File f(std::fopen(path.c_str(), "wb"));
    if (!f || std::fwrite(data, 1, size, f.get()) != size || std::fclose(f.release()) != 0) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

// One VLR: a projection key directory, as survey files carry.
std::vector<uint8_t> projectionVlr()
{
    std::vector<uint8_t> vlr(54 + 40, 0);
    std::memcpy(&vlr[2], "LASF_Projection", 15);
    const uint16_t recordId = 34735, length = 40;
    std::memcpy(&vlr[18], &recordId, 2);
    std::memcpy(&vlr[20], &length, 2);
    std::memcpy(&vlr[22], "GeoKeyDirectory (sample)", 24);
    const uint16_t keys[20] = {1, 1, 0, 4, 1024, 0, 1, 1, 1025, 0, 1, 1, 3072, 0, 1, 32611, 4099, 0, 1, 9001};
    std::memcpy(&vlr[54], keys, sizeof keys);
    return vlr;
}

size_t recordLength(int format)
{
    static constexpr size_t kLength[4] = {20, 28, 26, 34};
    return kLength[format];
}

}  // namespace

bool writeSample(const SampleOptions &o, std::string &error)
{
    if (o.format < 0 || o.format > 3 || o.versionMinor < 0 || o.versionMinor > 2 || o.rows <= 0 ||
        o.cols <= 0 || o.cellsize <= 0.0) {
        error = "invalid sample options";
        return false;
    }
    ::mkdir(o.dir.c_str(), 0755);

    std::string ascii;
    const std::vector<float> grid = makeGrid(o, ascii);
    if (!writeBytes(o.dir + "/terrain.asc", ascii.data(), ascii.size(), error) ||
        !writeBytes(o.dir + "/terrain.flt", grid.data(), grid.size() * sizeof(float), error))
        return false;
    char hdr[256];
    const int hdrLen = std::snprintf(hdr, sizeof hdr,
                                     "ncols %d\nnrows %d\nxllcorner %.3f\nyllcorner %.3f\ncellsize %.3f\n"
                                     "NODATA_value -9999\nbyteorder LSBFIRST\n",
                                     o.cols, o.rows, o.minx, o.miny, o.cellsize);
    if (!writeBytes(o.dir + "/terrain.hdr", hdr, static_cast<size_t>(hdrLen), error))
        return false;

    const std::vector<uint8_t> vlr = projectionVlr();
    LAS12Header h;
    std::memset(&h, 0, sizeof h);
    initialize_header12(&h);
    h.VersionMinor = static_cast<uint8_t>(o.versionMinor);
    std::memcpy(h.SystemIdentifier, "Morvane sample survey", 21);
    h.FileCreationDay = 341;
    h.FileCreationYear = 2026;
    h.OffsetToData = static_cast<uint32_t>(sizeof h + vlr.size());
    h.NumberOfVariableLengthRecords = 1;
    h.PointDataFormatID = static_cast<uint8_t>(o.format);
    const size_t len = recordLength(o.format);
    h.PointDataRecordLength = static_cast<uint16_t>(len);
    h.XScaleFactor = h.YScaleFactor = h.ZScaleFactor = 0.01;
    h.XOffset = o.minx;
    h.YOffset = o.miny;
    h.ZOffset = 0.0;

    const std::string lasPath = o.dir + "/points.las";
    File las(std::fopen(lasPath.c_str(), "wb"));
    if (!las || std::fwrite(&h, sizeof h, 1, las.get()) != 1 ||
        std::fwrite(vlr.data(), 1, vlr.size(), las.get()) != vlr.size()) {
        error = "cannot write " + lasPath;
        return false;
    }

    // Flight lines run north-south across the tile with a margin outside
    // the raster; each pulse gives one to three returns.
    std::mt19937 rng(o.seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double width = o.cols * o.cellsize, height = o.rows * o.cellsize;
    const double margin = 0.03 * std::max(width, height);
    const double swath = std::max(width / 8.0, 4.0 * o.cellsize);
    const uint64_t lines = static_cast<uint64_t>(std::ceil((width + 2 * margin) / swath));
    const uint64_t perLine = std::max<uint64_t>(1, (o.points + lines - 1) / lines);

    uint64_t stats[5] = {};
    int32_t lo[3] = {INT32_MAX, INT32_MAX, INT32_MAX}, hi[3] = {INT32_MIN, INT32_MIN, INT32_MIN};
    std::vector<uint8_t> block;
    block.reserve((size_t{1} << 20) * len / len * len);
    uint8_t rec[34];
    uint8_t returnNo = 1, returns = 1;
    for (uint64_t i = 0; i < o.points; ++i) {
        const uint64_t line = i / perLine;
        const double t = static_cast<double>(i % perLine) / static_cast<double>(perLine);
        const double along = (line % 2 == 0 ? t : 1.0 - t) * (height + 2 * margin) - margin;
        const double across = (static_cast<double>(line) + unit(rng)) * swath - margin;
        const double x = o.minx + across, y = o.miny + along;
        const double ground = terrainHeight(x - o.minx, y - o.miny);
        double z;
        uint8_t cls;
        const double kind = unit(rng);
        const bool inBuilding = std::fmod(std::floor(x / 60.0) + std::floor(y / 45.0), 7.0) == 0.0;
        if (returnNo == 1)
            returns = static_cast<uint8_t>(1 + (kind < 0.35) + (kind < 0.12));
        if (inBuilding) {
            z = ground + 9.0 + 0.3 * unit(rng);
            cls = 6;
        } else if (returnNo < returns) {
            z = ground + 2.0 + 26.0 * unit(rng);
            cls = 5;
        } else {
            z = ground + 0.15 * (unit(rng) - 0.5);
            cls = 2;
        }
        std::memset(rec, 0, sizeof rec);
        const int32_t xyz[3] = {static_cast<int32_t>(std::lround((x - h.XOffset) / h.XScaleFactor)),
                                static_cast<int32_t>(std::lround((y - h.YOffset) / h.YScaleFactor)),
                                static_cast<int32_t>(std::lround(z / h.ZScaleFactor))};
        std::memcpy(rec, xyz, sizeof xyz);
        for (int a = 0; a < 3; ++a) {
            lo[a] = std::min(lo[a], xyz[a]);
            hi[a] = std::max(hi[a], xyz[a]);
        }
        const uint16_t intensity = static_cast<uint16_t>(200 + 800 * unit(rng));
        std::memcpy(rec + 12, &intensity, 2);
        rec[14] = static_cast<uint8_t>(returnNo | (returns << 3));
        rec[15] = cls;
        rec[16] = static_cast<uint8_t>(static_cast<int>(30.0 * (unit(rng) - 0.5)));
        const uint16_t source = static_cast<uint16_t>(line + 1);
        std::memcpy(rec + 18, &source, 2);
        if (o.format == 1 || o.format == 3) {
            const double gps = 345600.0 + static_cast<double>(i) * 1e-5;
            std::memcpy(rec + 20, &gps, 8);
        }
        if (o.format >= 2) {
            const uint16_t rgb[3] = {static_cast<uint16_t>(cls * 9000), 30000, 12000};
            std::memcpy(rec + (o.format == 2 ? 20 : 28), rgb, 6);
        }
        ++stats[returnNo - 1];
        returnNo = returnNo < returns ? static_cast<uint8_t>(returnNo + 1) : 1;
        block.insert(block.end(), rec, rec + len);
        if (block.size() >= (size_t{1} << 20)) {
            if (std::fwrite(block.data(), 1, block.size(), las.get()) != block.size()) {
                error = "cannot write " + lasPath;
                return false;
            }
            block.clear();
        }
    }
    if (!block.empty() && std::fwrite(block.data(), 1, block.size(), las.get()) != block.size()) {
        error = "cannot write " + lasPath;
        return false;
    }

    // A truthful header: counts and bounds of the records written.
    h.NumberOfPointReturns = static_cast<uint32_t>(o.points);
    for (int r = 0; r < 5; ++r)
        h.NumberOfPointsByReturn[r] = static_cast<uint32_t>(stats[r]);
    if (o.points != 0) {
        h.MinX = lo[0] * h.XScaleFactor + h.XOffset;
        h.MaxX = hi[0] * h.XScaleFactor + h.XOffset;
        h.MinY = lo[1] * h.YScaleFactor + h.YOffset;
        h.MaxY = hi[1] * h.YScaleFactor + h.YOffset;
        h.MinZ = lo[2] * h.ZScaleFactor + h.ZOffset;
        h.MaxZ = hi[2] * h.ZScaleFactor + h.ZOffset;
    }
    if (std::fseek(las.get(), 0, SEEK_SET) != 0 || std::fwrite(&h, sizeof h, 1, las.get()) != 1 ||
        std::fclose(las.release()) != 0) {
        error = "cannot write " + lasPath;
        return false;
    }
    return true;
}
