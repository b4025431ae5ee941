// Shared by the fuzz targets: a private scratch directory, whole-file I/O,
// splitting one input into several files, and the checks that hold whatever
// the input.
#ifndef MORVANE_FUZZ_SUPPORT_H
#define MORVANE_FUZZ_SUPPORT_H

#include "process_exit.h"
#include "raster.h"

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

inline std::string scratchPath(const char *name) { return scratchDir() + "/" + name; }

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

inline void removeFile(const std::string &path) { std::remove(path.c_str()); }

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
#define FUZZ_CHECK(cond)                                                                  \
    do {                                                                                  \
        if (!(cond)) {                                                                    \
            std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
            std::abort();                                                                 \
        }                                                                                 \
    } while (0)

// readRaster on the given name, the way a run does; true when it loaded.
// The grid is released and the flags reset whatever happened.
template <typename OnLoaded>
bool loadRasterOnce(const std::string &name, OnLoaded &&onLoaded)
{
    std::string prog = "Morvane";
    std::string arg = name;
    char *argv[] = {prog.data(), arg.data(), nullptr};
    _flagASCII = -1;
    _flagFLOAT = -1;
    bool loaded = false;
    try {
        readRaster(argv);
        loaded = true;
        onLoaded();
    } catch (const lidar::ExitRequest &e) {
        FUZZ_CHECK(e.status == -1);
    }
    freeRaster();
    _flagASCII = -1;
    _flagFLOAT = -1;
    return loaded;
}

// Every cell of a loaded grid is reachable: a row that is short or missing
// shows up under AddressSanitizer here.
inline void touchEveryCell()
{
    FUZZ_CHECK(_raster != nullptr && _nRows > 0 && _nCols > 0);
    FUZZ_CHECK(_cellsize > 0.0f && _cellsize < INFINITY);
    volatile float sink = 0.0f;
    for (int32_t r = 0; r < _nRows; ++r) {
        FUZZ_CHECK(_raster[r] != nullptr);
        for (int32_t k = 0; k < _nCols; ++k)
            sink = sink + _raster[r][k];
    }
    (void)sink;
}

}  // namespace fuzz

#endif
