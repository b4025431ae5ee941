// morvane-sample: writes a synthetic terrain raster and LAS survey.
//   morvane-sample [--dir D] [--points N] [--rows R] [--cols C] [--cell S]
//                  [--format 0-3] [--version 0-2] [--seed K]
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

}  // namespace

int main(int argc, char **argv)
{
    SampleOptions o;
    for (int a = 1; a < argc; ++a) {
        const std::string_view opt(argv[a]);
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
        else
            ok = false;
        if (!ok) {
            std::fprintf(stderr, "morvane-sample: bad option %s\n", argv[a]);
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
