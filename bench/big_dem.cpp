// morvane-bigdem: the workload of the large-DEM benchmark, in DIR:
//   tile.las     N points (LAS 1.2 format 1) over a 1 km x 1 km tile, header
//                bounds true
//   stale.las    the same records, header bounds covering a quarter of them
//   zero.las     the same records, header bounds all zero
//   elsewhere.las  the same records, header bounds on a 30 km x 30 km part
//                of the big DEM away from the tile
//   inflated.las the same records, header bounds covering every grid
//   crop.flt     the tile's own 1,000 x 1,000-cell DEM (1 m cells) + .hdr
//   big.flt      a 100,000 x 100,000-cell DEM (40 GB, sparse: only the rows
//                under the tile are written, with the crop's values) + .hdr
//   big.asc      a 20,000 x 20,000-cell ASCII grid with the crop's values
//                under the tile and 0 elsewhere (written only with --asc)
//   county.flt   an 8,000 x 8,000-cell DEM (256 MB, sparse) with the crop's
//                values under the tile, which lies near its south-west corner
//   stray.las    tile.las and one stray point (a GPS glitch) at the big
//                DEM's north-east corner, below the window, true bounds
//   stray_county.las  the same with the stray point at the county DEM's
//                north-east corner
//   strip.las    300,000 points in acquisition order along the big DEM's
//                diagonal (an untiled flight line), in a band 200 cells
//                wide, over its zero cells; strip_blocks holds how many
//                blocks of 128 x 128 cells they cross
//   one.flt      the big DEM's extent as one cell of 0, which every strip
//                point lies on as it lies on a zero cell of the big DEM
//   morvane-bigdem DIR [--points N] [--asc]
#include "LiDAR.h"
#include "lidar/internal/point_stats.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

constexpr int kTile = 1000;          // cells a side, 1 m each
constexpr double kTileX = 440000.0;  // the tile's south-west corner
constexpr double kTileY = 4450000.0;
constexpr int kBig = 100000;  // cells a side of the big DEM
constexpr double kBigX = 400000.0, kBigY = 4400000.0;
constexpr int kCounty = 8000;
constexpr double kCountyX = kTileX - 1000.0, kCountyY = kTileY - 1000.0;
constexpr int kStrip = 300000, kBand = 200;
constexpr int kAsc = 20000;
constexpr double kAscX = 430000.0, kAscY = 4440000.0;

[[noreturn]] void die(const std::string &what)
{
    std::fprintf(stderr, "morvane-bigdem: %s\n", what.c_str());
    std::exit(1);
}

// The tile's terrain, rounded to what "%.2f" text holds, so that the binary
// and the text grids hold the same floats.
std::vector<float> tileValues()
{
    std::vector<float> v(static_cast<size_t>(kTile) * kTile);  // row 0 south
    char text[32];
    for (int r = 0; r < kTile; ++r)
        for (int c = 0; c < kTile; ++c) {
            const double h = 100 + 20 * std::sin(c / 150.0) + 15 * std::cos(r / 210.0) + 0.01 * ((r * 7 + c * 3) % 13);
            std::snprintf(text, sizeof text, "%.2f", h);
            v[static_cast<size_t>(r) * kTile + static_cast<size_t>(c)] = std::strtof(text, nullptr);
        }
    return v;
}

void writeText(const std::string &path, const std::string &text)
{
    std::FILE *f = std::fopen(path.c_str(), "w");
    if (f == nullptr || std::fputs(text.c_str(), f) < 0 || std::fclose(f) != 0)
        die("cannot write " + path);
}

std::string header(int side, double x, double y)
{
    return "ncols " + std::to_string(side) + "\nnrows " + std::to_string(side) + "\nxllcorner " + std::to_string(x) +
           "\nyllcorner " + std::to_string(y) + "\ncellsize 1\nNODATA_value -9999\n";
}

// A float grid of `side` cells a side whose cells (row0.., col0..) hold the
// tile; the rest is a hole in a sparse file (zeros).
void writeFloatGrid(const std::string &base, int side, double x, double y, int row0, int col0,
                    const std::vector<float> &tile)
{
    writeText(base + ".hdr", header(side, x, y));
    const int fd = ::open((base + ".flt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(side) * side * 4) != 0)
        die("cannot make " + base + ".flt");
    for (int r = 0; r < kTile; ++r) {
        const auto fileRow = static_cast<uint64_t>(side - 1 - (row0 + r));
        const uint64_t at = (fileRow * static_cast<uint64_t>(side) + static_cast<uint64_t>(col0)) * 4;
        if (::pwrite(fd, tile.data() + static_cast<size_t>(r) * kTile, kTile * 4, static_cast<off_t>(at)) != kTile * 4)
            die("cannot write " + base + ".flt");
    }
    ::close(fd);
}

void writeAsciiGrid(const std::string &path, const std::vector<float> &tile)
{
    std::FILE *f = std::fopen(path.c_str(), "w");
    if (f == nullptr)
        die("cannot write " + path);
    std::fputs(header(kAsc, kAscX, kAscY).c_str(), f);
    const int row0 = static_cast<int>(kTileY - kAscY), col0 = static_cast<int>(kTileX - kAscX);
    std::string line;
    for (int r = kAsc - 1; r >= 0; --r) {
        line.clear();
        for (int c = 0; c < kAsc; ++c) {
            const bool inTile = r >= row0 && r < row0 + kTile && c >= col0 && c < col0 + kTile;
            if (inTile) {
                char text[32];
                std::snprintf(text, sizeof text, "%.2f ",
                              tile[static_cast<size_t>(r - row0) * kTile + static_cast<size_t>(c - col0)]);
                line += text;
            } else {
                line += "0 ";
            }
        }
        line.back() = '\n';
        std::fwrite(line.data(), 1, line.size(), f);
    }
    if (std::fclose(f) != 0)
        die("cannot write " + path);
}

void writeLas(const std::string &path, const LAS12Header &h, const std::vector<LAS12fm1> &points)
{
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr || std::fwrite(&h, sizeof h, 1, f) != 1 ||
        std::fwrite(points.data(), sizeof(LAS12fm1), points.size(), f) != points.size() || std::fclose(f) != 0)
        die("cannot write " + path);
}

// The tile's records and one more at (x, y), 50 m below the zero cell it
// lies on there (so never kept), with the header bounds around them all.
void writeWithStray(const std::string &path, LAS12Header h, std::vector<LAS12fm1> points, double x, double y)
{
    LAS12fm1 stray{};
    stray.X = static_cast<int32_t>(std::lround((x - h.XOffset) / h.XScaleFactor));
    stray.Y = static_cast<int32_t>(std::lround((y - h.YOffset) / h.YScaleFactor));
    stray.Z = -50000;
    stray.bitfield = 1;
    points.push_back(stray);
    lidar::PointStats stats;
    stats.add(reinterpret_cast<const uint8_t *>(points.data()), points.size(), sizeof(LAS12fm1));
    stats.apply(h);
    writeLas(path, h, points);
}

// The strip: points along the big DEM's diagonal from its south-west
// corner, each within kBand / 2 cells of it across, Z from 2 m below to
// 12 m above the zero cells.
void writeStrip(const std::string &dir)
{
    LAS12Header h{};
    initialize_header12(&h);
    h.PointDataFormatID = 1;
    h.PointDataRecordLength = sizeof(LAS12fm1);
    h.XScaleFactor = h.YScaleFactor = h.ZScaleFactor = 0.001;
    h.XOffset = kBigX;
    h.YOffset = kBigY;
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> across(-kBand / 2.0, kBand / 2.0), z(-2.0, 12.0);
    std::vector<LAS12fm1> points;
    std::set<std::pair<int, int>> blocks;
    for (int i = 0; i < kStrip; ++i) {
        const double along = (i + 0.5) * kBig / kStrip, d = across(rng) / std::sqrt(2.0);
        const double col = std::clamp(along + d, 0.0, kBig - 0.001), row = std::clamp(along - d, 0.0, kBig - 0.001);
        LAS12fm1 p{};
        p.X = static_cast<int32_t>(col * 1000);
        p.Y = static_cast<int32_t>(row * 1000);
        p.Z = static_cast<int32_t>(std::lround(z(rng) * 1000));
        p.bitfield = 1;
        p.GPSTime = i;
        points.push_back(p);
        blocks.insert({p.Y / 1000 / 128, p.X / 1000 / 128});
    }
    lidar::PointStats stats;
    stats.add(reinterpret_cast<const uint8_t *>(points.data()), points.size(), sizeof(LAS12fm1));
    stats.apply(h);
    writeLas(dir + "/strip.las", h, points);
    writeText(dir + "/strip_blocks", std::to_string(blocks.size()) + "\n");
    writeText(dir + "/one.hdr", "ncols 1\nnrows 1\nxllcorner " + std::to_string(kBigX) + "\nyllcorner " +
                                    std::to_string(kBigY) + "\ncellsize " + std::to_string(kBig) +
                                    "\nNODATA_value -9999\n");
    const float zero = 0.0f;
    std::FILE *f = std::fopen((dir + "/one.flt").c_str(), "wb");
    if (f == nullptr || std::fwrite(&zero, sizeof zero, 1, f) != 1 || std::fclose(f) != 0)
        die("cannot write one.flt");
}

void writeTile(const std::string &dir, uint64_t n, const std::vector<float> &tile)
{
    LAS12Header h{};
    initialize_header12(&h);
    h.PointDataFormatID = 1;
    h.PointDataRecordLength = sizeof(LAS12fm1);
    h.NumberOfPointReturns = static_cast<uint32_t>(n);
    h.XScaleFactor = h.YScaleFactor = h.ZScaleFactor = 0.001;
    h.XOffset = kTileX;
    h.YOffset = kTileY;
    std::mt19937_64 rng(42);
    std::uniform_int_distribution<int32_t> xy(0, kTile * 1000 - 1), dz(-3000, 30000);
    std::vector<LAS12fm1> points(n);
    int32_t lo[3] = {INT32_MAX, INT32_MAX, INT32_MAX}, hi[3] = {INT32_MIN, INT32_MIN, INT32_MIN};
    for (uint64_t i = 0; i < n; ++i) {
        LAS12fm1 p{};
        p.X = xy(rng);
        p.Y = xy(rng);
        const float v = tile[static_cast<size_t>(p.Y / 1000) * kTile + static_cast<size_t>(p.X / 1000)];
        p.Z = static_cast<int32_t>(std::lround(v * 1000.0)) + dz(rng);
        p.bitfield = 1;
        p.GPSTime = static_cast<double>(i);
        points[i] = p;
        const int32_t xyz[3] = {p.X, p.Y, p.Z};
        for (int a = 0; a < 3; ++a)
            lo[a] = std::min(lo[a], xyz[a]), hi[a] = std::max(hi[a], xyz[a]);
    }
    h.NumberOfPointsByReturn[0] = static_cast<uint32_t>(n);
    writeWithStray(dir + "/stray.las", h, points, kBigX + kBig - 0.5, kBigY + kBig - 0.5);
    writeWithStray(dir + "/stray_county.las", h, points, kCountyX + kCounty - 0.5, kCountyY + kCounty - 0.5);
    for (const char *name : {"tile.las", "stale.las", "zero.las", "elsewhere.las", "inflated.las"}) {
        const std::string_view which(name);
        // Stale: the bounds of the south-west quarter of the tile only.
        const double shrink = which == "stale.las" ? 0.5 : 1.0;
        h.MinX = lo[0] * 0.001 + kTileX;
        h.MaxX = (lo[0] + (hi[0] - lo[0]) * shrink) * 0.001 + kTileX;
        h.MinY = lo[1] * 0.001 + kTileY;
        h.MaxY = (lo[1] + (hi[1] - lo[1]) * shrink) * 0.001 + kTileY;
        if (which == "zero.las")
            h.MinX = h.MaxX = h.MinY = h.MaxY = 0.0;
        if (which == "elsewhere.las") {
            h.MinX = kBigX + 50000.0, h.MaxX = h.MinX + 30000.0;
            h.MinY = kBigY + 50000.0, h.MaxY = h.MinY + 30000.0;
        }
        if (which == "inflated.las") {
            h.MinX = h.MinY = -1e12;
            h.MaxX = h.MaxY = 1e12;
        }
        h.MinZ = lo[2] * 0.001;
        h.MaxZ = hi[2] * 0.001;
        writeLas(dir + "/" + name, h, points);
    }
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 2)
        die("usage: morvane-bigdem DIR [--points N] [--asc]");
    const std::string dir = argv[1];
    uint64_t points = 10000000;
    bool asc = false;
    for (int a = 2; a < argc; ++a) {
        const std::string_view opt(argv[a]);
        if (opt == "--points" && a + 1 < argc)
            points = std::strtoull(argv[++a], nullptr, 10);
        else if (opt == "--asc")
            asc = true;
        else
            die("bad option " + std::string(opt));
    }
    const std::vector<float> tile = tileValues();
    writeTile(dir, points, tile);
    writeFloatGrid(dir + "/crop", kTile, kTileX, kTileY, 0, 0, tile);
    writeFloatGrid(dir + "/big", kBig, kBigX, kBigY, static_cast<int>(kTileY - kBigY), static_cast<int>(kTileX - kBigX),
                   tile);
    writeFloatGrid(dir + "/county", kCounty, kCountyX, kCountyY, static_cast<int>(kTileY - kCountyY),
                   static_cast<int>(kTileX - kCountyX), tile);
    writeStrip(dir);
    if (asc)
        writeAsciiGrid(dir + "/big.asc", tile);
    return 0;
}
