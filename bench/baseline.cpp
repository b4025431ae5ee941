// morvane-baseline: the same selection as Morvane written the plain way,
// with stdio one record at a time. It writes the same output bytes, so the
// benchmark uses it both as the reference output and as the timing baseline.
//   morvane-baseline <raster .asc|.flt> <input LAS> <output LAS> <low> <high>
#include "LiDAR.h"
#include "lidar/internal/point_stats.h"
#include "stdio_grid.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

[[noreturn]] void die(const char *what, const char *name)
{
    std::fprintf(stderr, "morvane-baseline: %s %s\n", what, name);
    std::exit(2);
}

// Recounts the records of the finished file and rewrites its header, one
// record per fread.
void refreshHeader(const char *name)
{
    std::FILE *f = std::fopen(name, "r+b");
    if (f == nullptr)
        die("cannot reopen", name);
    LAS12Header h;
    if (std::fread(&h, sizeof h, 1, f) != 1 || std::fseek(f, h.OffsetToData, SEEK_SET) != 0)
        die("cannot read the header of", name);
    // One record at a time, into the library's header statistics.
    lidar::PointStats stats;
    std::vector<uint8_t> rec(h.PointDataRecordLength);
    while (std::fread(rec.data(), rec.size(), 1, f) == 1)
        stats.add(rec.data(), 1, rec.size());
    stats.apply(h);
    std::rewind(f);
    if (std::fwrite(&h, sizeof h, 1, f) != 1 || std::fclose(f) != 0)
        die("cannot rewrite the header of", name);
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 6) {
        std::fprintf(stderr, "usage: morvane-baseline <raster> <input LAS> <output LAS> <low> <high>\n");
        return 2;
    }
    StdioGrid g;
    if (!loadStdioGrid(argv[1], g))
        die("cannot load the grid", argv[1]);
    const double low = std::atof(argv[4]), high = std::atof(argv[5]);
    const float nodata = static_cast<float>(g.nodata);

    std::FILE *in = std::fopen(argv[2], "rb");
    std::FILE *out = std::fopen(argv[3], "wb");
    if (in == nullptr || out == nullptr)
        die("cannot open", in == nullptr ? argv[2] : argv[3]);
    LAS12Header h;
    if (std::fread(&h, sizeof h, 1, in) != 1 || std::fwrite(&h, sizeof h, 1, out) != 1)
        die("cannot copy the header of", argv[2]);
    // Morvane carries the variable-length records over verbatim.
    std::vector<uint8_t> vlrs(h.OffsetToData - sizeof h);
    if (std::fread(vlrs.data(), 1, vlrs.size(), in) != vlrs.size() ||
        std::fwrite(vlrs.data(), 1, vlrs.size(), out) != vlrs.size())
        die("cannot copy the variable-length records of", argv[2]);

    const size_t len = h.PointDataRecordLength;
    std::vector<uint8_t> rec(len);
    uint32_t selected = 0, onNodata = 0, outside = 0;
    for (uint32_t i = 0; i < h.NumberOfPointReturns; ++i) {
        if (std::fread(rec.data(), len, 1, in) != 1)
            die("short read in", argv[2]);
        int32_t xyz[3];
        std::memcpy(xyz, rec.data(), sizeof xyz);
        const double row = std::floor((xyz[1] * h.YScaleFactor + h.YOffset - g.miny) / g.cellsize);
        const double col = std::floor((xyz[0] * h.XScaleFactor + h.XOffset - g.minx) / g.cellsize);
        if (row < 0 || row >= g.rows || col < 0 || col >= g.cols) {
            ++outside;
            continue;
        }
        const float v = g.row(static_cast<int32_t>(row))[static_cast<int32_t>(col)];
        if (v == nodata) {
            ++onNodata;
            continue;
        }
        const double z = xyz[2] * h.ZScaleFactor + h.ZOffset;
        if (z >= v + low && z <= v + high) {
            if (std::fwrite(rec.data(), len, 1, out) != 1)
                die("cannot write", argv[3]);
            ++selected;
        }
    }
    std::fclose(in);
    if (std::fclose(out) != 0)
        die("cannot write", argv[3]);
    std::printf("selected %u, on NODATA %u, outside %u, of %u points\n", selected, onNodata, outside,
                h.NumberOfPointReturns);
    if (selected == 0) {
        std::remove(argv[3]);
        return 1;
    }
    refreshHeader(argv[3]);
    return 0;
}
