// Interoperability: LAS files written by other software go through Morvane
// with a raster that covers them. Skipped where the shared data is absent.
#include "console_text.h"
#include "las_builder.h"
#include "test_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <string>

using namespace test_support;

namespace {

TEST(SharedData, EveryFileKeepsItsRecordsAndVariableLengthRecords)
{
    const std::filesystem::path data(SHARED_DATA_DIR);
    std::error_code ec;
    if (!std::filesystem::is_directory(data, ec))
        GTEST_SKIP() << "no shared LAS data at " << data << " (configure with -DMORVANE_SHARED_DATA=<folder>)";
    int seen = 0;
    for (const auto &entry : std::filesystem::directory_iterator(data)) {
        if (entry.path().extension() != ".las")
            continue;
        SCOPED_TRACE(entry.path().filename().string());
        ++seen;
        const std::string input = readFile(entry.path().string());
        ASSERT_GE(input.size(), 227u);
        const uint32_t offset = getLE<uint32_t>(input, 96);
        const uint16_t len = getLE<uint16_t>(input, 105);
        const uint32_t count = getLE<uint32_t>(input, 107);
        const double maxX = getLE<double>(input, 179), minX = getLE<double>(input, 187);
        const double maxY = getLE<double>(input, 195), minY = getLE<double>(input, 203);
        const double maxZ = getLE<double>(input, 211), minZ = getLE<double>(input, 219);

        // One flat cell value below every point, a window reaching above all.
        TempDir dir;
        const double x0 = std::floor(minX) - 10, y0 = std::floor(minY) - 10;
        const double cell = std::ceil(std::max(maxX - x0, maxY - y0) / 4.0) + 10;
        std::string grid = format("ncols 4\nnrows 4\nxllcorner %.3f\nyllcorner %.3f\ncellsize %.3f\nNODATA_value -9999\n",
                                  x0, y0, cell);
        const double base = std::floor(minZ) - 1;
        for (int i = 0; i < 16; ++i)
            grid += format("%.3f ", base);
        writeFile(dir / "dem.asc", grid);
        ASSERT_EQ(::symlink(entry.path().c_str(), (dir / "in.las").c_str()), 0);
        const std::string high = format("%.3f", maxZ - base + 2);
        const RunResult r = runMorvane({"dem.asc", "in.las", "out.las", "0", high}, dir.path());
        ASSERT_EQ(r.status, 0) << r.out;

        const std::string out = readFile(dir / "out.las");
        ASSERT_EQ(out.size(), offset + size_t{count} * len);
        EXPECT_EQ(out.substr(227, offset - 227), input.substr(227, offset - 227)) << "VLRs carried verbatim";
        EXPECT_EQ(out.substr(offset), input.substr(offset, size_t{count} * len)) << "records unchanged";
        // The header agrees with the records.
        uint32_t byReturn[5] = {};
        int32_t lo[3] = {INT32_MAX, INT32_MAX, INT32_MAX}, hi[3] = {INT32_MIN, INT32_MIN, INT32_MIN};
        for (uint32_t i = 0; i < count; ++i) {
            const size_t at = offset + size_t{i} * len;
            for (int a = 0; a < 3; ++a) {
                const int32_t v = getLE<int32_t>(out, at + 4 * static_cast<size_t>(a));
                lo[a] = std::min(lo[a], v);
                hi[a] = std::max(hi[a], v);
            }
            const int ret = static_cast<uint8_t>(out[at + 14]) & 7;
            if (ret >= 1 && ret <= 5)
                ++byReturn[ret - 1];
        }
        EXPECT_EQ(getLE<uint32_t>(out, 107), count);
        for (size_t k = 0; k < 5; ++k)
            EXPECT_EQ(getLE<uint32_t>(out, 111 + 4 * k), byReturn[k]);
        const double sx = getLE<double>(out, 131), sy = getLE<double>(out, 139), sz = getLE<double>(out, 147);
        const double ox = getLE<double>(out, 155), oy = getLE<double>(out, 163), oz = getLE<double>(out, 171);
        EXPECT_EQ(getLE<double>(out, 179), hi[0] * sx + ox);
        EXPECT_EQ(getLE<double>(out, 187), lo[0] * sx + ox);
        EXPECT_EQ(getLE<double>(out, 195), hi[1] * sy + oy);
        EXPECT_EQ(getLE<double>(out, 203), lo[1] * sy + oy);
        EXPECT_EQ(getLE<double>(out, 211), hi[2] * sz + oz) << "true MaxZ";
        EXPECT_EQ(getLE<double>(out, 219), lo[2] * sz + oz) << "true MinZ";
        // The other header bytes are the input's.
        EXPECT_EQ(out.substr(0, 107), input.substr(0, 107));
        EXPECT_EQ(out.substr(131, 48), input.substr(131, 48));
        (void)maxZ;
    }
    EXPECT_GT(seen, 0);
}

}  // namespace
