// The binary float grid loader (readRaster on a .flt file with its .hdr).
// Input: the .hdr text, the separator, then the .flt data; without a
// separator the whole input is the header and the data file is missing.
#include "fuzz_support.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view input(reinterpret_cast<const char *>(data), size);
    const auto parts = fuzz::split(input, 2);
    const std::string hdr = fuzz::scratchPath("grid.hdr");
    const std::string flt = fuzz::scratchPath("grid.flt");
    fuzz::writeFile(hdr, parts[0]);
    if (parts.size() == 2)
        fuzz::writeFile(flt, parts[1]);
    else
        fuzz::removeFile(flt);

    const bool loaded = fuzz::loadRasterOnce(flt, [&parts](const Raster &r) {
        FUZZ_CHECK(!r.ascii());
        fuzz::touchEveryCell(r);
        // Every cell came from the data file: it holds at least the grid.
        FUZZ_CHECK(CellWindow::whole(r.grid()).cellCount() * 4 <= parts.back().size());
    });
    FUZZ_CHECK(!loaded || parts.size() == 2);

    std::string after;
    FUZZ_CHECK(fuzz::readFile(hdr, after) && after == parts[0]);
    if (parts.size() == 2)
        FUZZ_CHECK(fuzz::readFile(flt, after) && after == parts[1]);
    return 0;
}
