// The ASCII grid loader (readRaster on a .asc file) on arbitrary text.
#include "fuzz_support.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string path = fuzz::scratchPath("grid.asc");
    const std::string text(reinterpret_cast<const char *>(data), size);
    fuzz::writeFile(path, text);
    fuzz::loadRasterOnce(path, [](const Raster &r) {
        FUZZ_CHECK(r.ascii());
        fuzz::touchEveryCell(r);
    });
    std::string after;
    FUZZ_CHECK(fuzz::readFile(path, after) && after == text);
    return 0;
}
