// Shared by the fuzz targets: a private scratch directory, whole-file I/O,
// splitting one input into several files, and the checks that hold whatever
// the input.
#ifndef MORVANE_FUZZ_SUPPORT_H
#define MORVANE_FUZZ_SUPPORT_H

#include "lidar/internal/process_exit.h"
#include "raster/raster.h"
#include "run_failure.h"

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

using namespace morvane;

namespace fuzz {

// Separates the files packed into one fuzz input (also in the dictionary).
inline constexpr std::string_view kSeparator = "|MVSEP|";

// One directory per process: parallel fuzzing jobs never share files.
inline const std::string &scratchDir()
{
    static const std::string dir = [] {
        const std::string d = "/tmp/morvane-fuzz-" + std::to_string(::getpid());
        std::error_code ec;
        std::filesystem::remove_all(d, ec);
        std::filesystem::create_directories(d);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all("/tmp/morvane-fuzz-" + std::to_string(::getpid()), ignored);
        });
        return d;
    }();
    return dir;
}

inline std::string scratchPath(const char *name)
{
    return scratchDir() + "/" + name;
}

inline void writeFile(const std::string &path, std::string_view bytes)
{
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
        std::abort();
    if (std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size())
        std::abort();
    if (std::fclose(f) != 0)
        std::abort();
}

// Whole file, or false when it does not exist.
inline bool readFile(const std::string &path, std::string &out)
{
    out.clear();
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
        return false;
    char buf[65536];
    size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, f)) > 0)
        out.append(buf, got);
    std::fclose(f);
    return true;
}

inline void removeFile(const std::string &path)
{
    std::remove(path.c_str());
}

inline std::vector<std::string_view> split(std::string_view data, size_t maxParts)
{
    std::vector<std::string_view> parts;
    while (parts.size() + 1 < maxParts) {
        const size_t at = data.find(kSeparator);
        if (at == std::string_view::npos)
            break;
        parts.push_back(data.substr(0, at));
        data.remove_prefix(at + kSeparator.size());
    }
    parts.push_back(data);
    return parts;
}

// A violated promise: abort so that libFuzzer keeps the input.
#define FUZZ_CHECK(cond)                                                                        \
    do {                                                                                        \
        if (!(cond)) {                                                                          \
            std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
            std::abort();                                                                       \
        }                                                                                       \
    } while (0)

// readRaster on the given name, the way a run does; true when it loaded.
template <typename OnLoaded>
bool loadRasterOnce(const std::string &name, OnLoaded &&onLoaded)
{
    try {
        const Raster raster = readRaster(name.c_str());
        onLoaded(raster);
        return true;
    } catch (const RunFailure &) {
        return false;
    }
}

// Every cell of a loaded grid is reachable: a block that is short shows up
// under AddressSanitizer here.
inline void touchEveryCell(const Raster &r)
{
    const GridGeometry &g = r.grid();
    FUZZ_CHECK(static_cast<bool>(r.cells) && g.rows > 0 && g.cols > 0);
    FUZZ_CHECK(g.cellsize > 0.0 && g.cellsize < INFINITY);
    FUZZ_CHECK(r.window.rowBegin == 0 && r.window.rowEnd == g.rows && r.window.colBegin == 0 &&
               r.window.colEnd == g.cols);
    volatile float sink = 0.0f;
    for (int32_t row = 0; row < g.rows; ++row)
        for (int32_t col = 0; col < g.cols; ++col)
            sink = sink + r.at(row, col);
    (void)sink;
}

}  // namespace fuzz

#endif
