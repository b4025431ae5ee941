#include "sample_writer.h"

#include "LiDAR.h"
#include "lidar/internal/point_stats.h"
#include "lidar/internal/record_size.h"

#include <charconv>
#include <cmath>
#include <cstddef>
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

bool writeGrids(const SampleOptions &o, std::string &error)
{
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
    return writeBytes(o.dir + "/terrain.hdr", hdr, static_cast<size_t>(hdrLen), error);
}

// The header before any point is written: counts and bounds come later.
LAS12Header makeHeader(const SampleOptions &o, size_t vlrBytes)
{
    LAS12Header h;
    std::memset(&h, 0, sizeof h);
    initialize_header12(&h);
    h.VersionMinor = static_cast<uint8_t>(o.versionMinor);
    std::memcpy(h.SystemIdentifier, "Morvane sample survey", 21);
    h.FileCreationDay = 341;
    h.FileCreationYear = 2026;
    h.OffsetToData = static_cast<uint32_t>(sizeof h + vlrBytes);
    h.NumberOfVariableLengthRecords = 1;
    h.PointDataFormatID = static_cast<uint8_t>(o.format);
    h.PointDataRecordLength = static_cast<uint16_t>(lidar::format_record_size(static_cast<unsigned>(o.format)));
    h.XScaleFactor = h.YScaleFactor = h.ZScaleFactor = 0.01;
    h.XOffset = o.minx;
    h.YOffset = o.miny;
    h.ZOffset = 0.0;
    return h;
}

// One return, in the fields every format shares plus the ones some add.
struct Sample {
    int32_t xyz[3];
    uint16_t intensity;
    uint8_t bitfield, classification, scanAngle;
    uint16_t source;
    double gpsTime;
    uint16_t rgb[3];
};

template <typename Record>
void appendRecord(std::vector<uint8_t> &block, const Sample &s)
{
    Record r{};
    r.X = s.xyz[0];
    r.Y = s.xyz[1];
    r.Z = s.xyz[2];
    r.Intensity = s.intensity;
    r.bitfield = static_cast<int8_t>(s.bitfield);
    r.Classification = s.classification;
    r.ScanAngleRank = s.scanAngle;
    r.PointSourceID = s.source;
    if constexpr (requires { r.GPSTime; })
        r.GPSTime = s.gpsTime;
    if constexpr (requires { r.Red; }) {
        r.Red = s.rgb[0];
        r.Green = s.rgb[1];
        r.Blue = s.rgb[2];
    }
    const auto *bytes = reinterpret_cast<const uint8_t *>(&r);
    block.insert(block.end(), bytes, bytes + sizeof r);
}

void appendRecord(std::vector<uint8_t> &block, int format, const Sample &s)
{
    switch (format) {
    case 0: appendRecord<LAS12fm0>(block, s); break;
    case 1: appendRecord<LAS12fm1>(block, s); break;
    case 2: appendRecord<LAS12fm2>(block, s); break;
    default: appendRecord<LAS12fm3>(block, s); break;
    }
}

// Flight lines run north-south across the tile with a margin outside the
// raster; each pulse gives one to three returns.
class Survey {
public:
    Survey(const SampleOptions &o, const LAS12Header &h) : o_(o), h_(h), rng_(o.seed)
    {
        const double width = o.cols * o.cellsize, height = o.rows * o.cellsize;
        margin_ = 0.03 * std::max(width, height);
        swath_ = std::max(width / 8.0, 4.0 * o.cellsize);
        height_ = height;
        const auto lines = static_cast<uint64_t>(std::ceil((width + 2 * margin_) / swath_));
        perLine_ = std::max<uint64_t>(1, (o.points + lines - 1) / lines);
        perSweep_ = std::max<uint64_t>(1, static_cast<uint64_t>(std::lround(swath_ / o.cellsize)));
    }

    Sample point(uint64_t i)
    {
        const uint64_t line = i / perLine_;
        const double t = static_cast<double>(i % perLine_) / static_cast<double>(perLine_);
        const double along = (line % 2 == 0 ? t : 1.0 - t) * (height_ + 2 * margin_) - margin_;
        const double across = (static_cast<double>(line) + acrossSwath(i)) * swath_ - margin_;
        const double x = o_.minx + across, y = o_.miny + along;
        const double ground = terrainHeight(x - o_.minx, y - o_.miny);
        double z;
        uint8_t cls;
        const double kind = unit();
        const bool inBuilding = std::fmod(std::floor(x / 60.0) + std::floor(y / 45.0), 7.0) == 0.0;
        if (returnNo_ == 1)
            returns_ = static_cast<uint8_t>(1 + (kind < 0.35) + (kind < 0.12));
        if (inBuilding) {
            z = ground + 9.0 + 0.3 * unit();
            cls = 6;
        } else if (returnNo_ < returns_) {
            z = ground + 2.0 + 26.0 * unit();
            cls = 5;
        } else {
            z = ground + 0.15 * (unit() - 0.5);
            cls = 2;
        }
        Sample s{};
        s.xyz[0] = static_cast<int32_t>(std::lround((x - h_.XOffset) / h_.XScaleFactor));
        s.xyz[1] = static_cast<int32_t>(std::lround((y - h_.YOffset) / h_.YScaleFactor));
        s.xyz[2] = static_cast<int32_t>(std::lround(z / h_.ZScaleFactor));
        s.intensity = static_cast<uint16_t>(200 + 800 * unit());
        s.bitfield = static_cast<uint8_t>(returnNo_ | (returns_ << 3));
        s.classification = cls;
        s.scanAngle = static_cast<uint8_t>(static_cast<int>(30.0 * (unit() - 0.5)));
        s.source = static_cast<uint16_t>(line + 1);
        s.gpsTime = 345600.0 + static_cast<double>(i) * 1e-5;
        s.rgb[0] = static_cast<uint16_t>(cls * 9000);
        s.rgb[1] = 30000;
        s.rgb[2] = 12000;
        returnNo_ = returnNo_ < returns_ ? static_cast<uint8_t>(returnNo_ + 1) : 1;
        return s;
    }

private:
    double unit() { return unit_(rng_); }

    // Where point i lies across its swath, 0 to 1.
    double acrossSwath(uint64_t i)
    {
        if (!o_.scanOrder)
            return unit();
        // Sweeps back and forth, a cell a point, each point somewhere in its cell.
        const uint64_t k = i % perLine_, sweep = k / perSweep_;
        const double f = (static_cast<double>(k % perSweep_) + unit()) / static_cast<double>(perSweep_);
        return sweep % 2 == 0 ? f : 1.0 - f;
    }

    const SampleOptions &o_;
    const LAS12Header &h_;
    std::mt19937 rng_;
    std::uniform_real_distribution<double> unit_{0.0, 1.0};
    double margin_ = 0, swath_ = 0, height_ = 0;
    uint64_t perLine_ = 1, perSweep_ = 1;
    uint8_t returnNo_ = 1, returns_ = 1;
};

// Writes the point records in blocks of about 1 MiB, gathering the header's
// statistics from each block as it goes.
bool writeRecords(std::FILE *las, const SampleOptions &o, const LAS12Header &h, lidar::PointStats &stats)
{
    const size_t len = lidar::format_record_size(static_cast<unsigned>(o.format));
    const size_t blockBytes = ((size_t{1} << 20) / len) * len;
    std::vector<uint8_t> block;
    block.reserve(blockBytes);
    const auto flush = [&] {
        stats.add(block.data(), block.size() / len, len);
        const bool ok = std::fwrite(block.data(), 1, block.size(), las) == block.size();
        block.clear();
        return ok;
    };
    Survey survey(o, h);
    for (uint64_t i = 0; i < o.points; ++i) {
        appendRecord(block, o.format, survey.point(i));
        if (block.size() >= blockBytes && !flush())
            return false;
    }
    return block.empty() || flush();
}

}  // namespace

bool writeSample(const SampleOptions &o, std::string &error)
{
    if (o.format < 0 || o.format > 3 || o.versionMinor < 0 || o.versionMinor > 2 || o.rows <= 0 || o.cols <= 0 ||
        o.cellsize <= 0.0) {
        error = "invalid sample options";
        return false;
    }
    ::mkdir(o.dir.c_str(), 0755);
    if (!writeGrids(o, error))
        return false;

    const std::vector<uint8_t> vlr = projectionVlr();
    LAS12Header h = makeHeader(o, vlr.size());
    const std::string lasPath = o.dir + "/points.las";
    File las(std::fopen(lasPath.c_str(), "wb"));
    lidar::PointStats stats;
    bool ok = las && std::fwrite(&h, sizeof h, 1, las.get()) == 1 &&
              std::fwrite(vlr.data(), 1, vlr.size(), las.get()) == vlr.size() && writeRecords(las.get(), o, h, stats);

    // A truthful header: counts and bounds of the records written. An empty
    // file keeps zero bounds rather than the statistics' start values.
    const LAS12Header empty = h;
    stats.apply(h);
    h.NumberOfPointReturns = static_cast<uint32_t>(o.points);
    if (o.points == 0) {
        h.MaxX = empty.MaxX, h.MinX = empty.MinX, h.MaxY = empty.MaxY;
        h.MinY = empty.MinY, h.MaxZ = empty.MaxZ, h.MinZ = empty.MinZ;
    }
    ok = ok && std::fseek(las.get(), 0, SEEK_SET) == 0 && std::fwrite(&h, sizeof h, 1, las.get()) == 1 &&
         std::fclose(las.release()) == 0;
    if (!ok)
        error = "cannot write " + lasPath;
    return ok;
}
