// morvane-sample: writes a synthetic terrain raster and LAS survey; the
// options are in usage().
#include "sample_writer.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

template <typename T>
bool parseNumber(const char *text, T &value)
{
    const std::string_view s(text);
    const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    return ec == std::errc() && ptr == s.data() + s.size();
}

void usage()
{
    const SampleOptions d;
    std::printf("Usage: morvane-sample [--dir D] [--points N] [--rows R] [--cols C] [--cell S]\n"
                "                      [--format F] [--version V] [--seed K] [--order O]\n"
                "Writes a synthetic survey into D: terrain.asc, terrain.flt with terrain.hdr (the same\n"
                "terrain) and points.las, with ground, vegetation and building returns.\n"
                "  --dir D       folder to write into (default %s)\n"
                "  --points N    number of points (default %llu)\n"
                "  --rows R      raster rows (default %d)\n"
                "  --cols C      raster columns (default %d)\n"
                "  --cell S      cell size in metres (default %g)\n"
                "  --format F    LAS point data format, 0 to 3 (default %d)\n"
                "  --version V   LAS 1.V, V from 0 to 2 (default %d)\n"
                "  --seed K      random seed (default %u)\n"
                "  --order O     the points' order along a flight line: random (anywhere across\n"
                "                the swath, the default) or scan (sweeping across it, about\n"
                "                one cell from one point to the next, as a scanner records them)\n"
                "  --help        print this and exit\n",
                d.dir.c_str(), static_cast<unsigned long long>(d.points), d.rows, d.cols, d.cellsize, d.format,
                d.versionMinor, d.seed);
}

}  // namespace

int main(int argc, char **argv)
{
    SampleOptions o;
    for (int a = 1; a < argc; ++a) {
        const std::string_view opt(argv[a]);
        if (opt == "--help" || opt == "-h") {
            usage();
            return 0;
        }
        const char *value = a + 1 < argc ? argv[a + 1] : nullptr;
        bool ok = value != nullptr;
        if (ok && opt == "--dir")
            o.dir = value;
        else if (ok && opt == "--points")
            ok = parseNumber(value, o.points);
        else if (ok && opt == "--rows")
            ok = parseNumber(value, o.rows);
        else if (ok && opt == "--cols")
            ok = parseNumber(value, o.cols);
        else if (ok && opt == "--cell")
            ok = parseNumber(value, o.cellsize);
        else if (ok && opt == "--format")
            ok = parseNumber(value, o.format);
        else if (ok && opt == "--version")
            ok = parseNumber(value, o.versionMinor);
        else if (ok && opt == "--seed")
            ok = parseNumber(value, o.seed);
        else if (ok && opt == "--order")
            ok = (o.scanOrder = std::string_view(value) == "scan") || std::string_view(value) == "random";
        else
            ok = false;
        if (!ok) {
            std::fprintf(stderr, "morvane-sample: bad option %s (--help lists the options)\n", argv[a]);
            return 2;
        }
        ++a;
    }
    std::string error;
    if (!writeSample(o, error)) {
        std::fprintf(stderr, "morvane-sample: %s\n", error.c_str());
        return 1;
    }
    std::printf("wrote %s/terrain.asc, %s/terrain.flt (+ .hdr), %s/points.las (%llu points)\n", o.dir.c_str(),
                o.dir.c_str(), o.dir.c_str(), static_cast<unsigned long long>(o.points));
    return 0;
}
