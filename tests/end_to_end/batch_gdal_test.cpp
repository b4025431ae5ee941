// morvane-batch on rasters Morvane does not read itself (GeoTIFF, a VRT
// mosaic), prepared through GDAL: every run against one is compared with the
// run against the .flt that gdal_translate makes of the same raster, output
// bytes and tallies; the shapes refused; the prepared grid reused while the
// raster's files are unchanged, and prepared by several shares at once.
// The rasters are made with GDAL's own tools; without them, or in a build
// without GDAL, the tests skip.
#include "grid_builder.h"
#include "las_builder.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

using namespace test_support;
namespace fs = std::filesystem;

namespace {

#define SKIP_WITHOUT_GDAL()                                                                  \
    do {                                                                                     \
        if (const std::string why = gdalMissing(); !why.empty())                             \
            GTEST_SKIP() << why;                                                             \
    } while (false)

std::string gdalMissing()
{
#ifndef MORVANE_WITH_GDAL
    return "morvane-batch was built without GDAL (libgdal-dev not found, or -DMORVANE_GDAL=OFF)";
#else
    if (std::system("command -v gdal_translate >/dev/null 2>&1 && command -v gdalbuildvrt >/dev/null 2>&1") != 0)
        return "gdal_translate or gdalbuildvrt is missing (Debian: gdal-bin)";
    return {};
#endif
}

// A GDAL command line run in dir; its console is shown where it fails.
void gdal(const TempDir &dir, const std::string &command)
{
    const std::string line = "cd '" + dir.path() + "' && " + command + " >gdal.log 2>&1";
    ASSERT_EQ(std::system(line.c_str()), 0) << command << "\n" << readFile(dir / "gdal.log");
}

// 120 x 80 cells of 0.5 m at (500000, 5000000), a sloping terrain about
// 100 m high with a block of NODATA cells, written as dem.asc.
void writeAsciiDem(const TempDir &dir)
{
    TestGrid dem;
    dem.cols = 120;
    dem.rows = 80;
    dem.minx = 500000;
    dem.miny = 5000000;
    dem.cell = 0.5;
    for (int r = 0; r < dem.rows; ++r)
        for (int c = 0; c < dem.cols; ++c)
            dem.south.push_back(r >= 10 && r < 20 && c >= 30 && c < 40
                                    ? -9999.0f
                                    : static_cast<float>(100.0 + 0.1 * c + 0.05 * r + std::sin(c * 0.3) * 2.0));
    writeFile(dir / "dem.asc", dem.asciiText());
}

// Tiles of 1500 points over the DEM and up to 5 m beyond its edges, 1 to
// 35 m above or below its terrain, in 1/100 m.
void writeTiles(const TempDir &dir, int count)
{
    fs::create_directories(dir / "tiles");
    uint32_t seed = 12345;
    const auto next = [&seed](uint32_t range) {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<int32_t>((seed >> 8) % range);
    };
    for (int t = 0; t < count; ++t) {
        LasSpec layout;
        layout.offset[0] = 500000;
        layout.offset[1] = 5000000;
        std::vector<Point> points;
        for (int i = 0; i < 1500; ++i)
            points.push_back({next(7000) - 500, next(5000) - 500, 10000 + next(4000) - 100 * (i % 3), 1});
        writeFile(dir / ("tiles/t" + std::to_string(t) + ".las"), buildLas(layout, points));
    }
}

RunResult runBatch(const TempDir &dir, const std::vector<std::string> &args)
{
    RunOptions options;
    options.cwd = dir.path();
    options.timeLimit = std::chrono::seconds(60);
    return runProgram(MORVANE_BATCH_EXE, args, options);
}

// summary.csv's rows without their wall time.
std::string summaryWithoutTimes(const TempDir &dir, const std::string &out)
{
    return std::regex_replace(readFile(dir / (out + "/summary.csv")), std::regex(",[0-9.]+\n"), "\n");
}

// The last line of the console: the batch's counts, without the wall time.
std::string counts(const RunResult &r)
{
    const size_t start = r.out.rfind('\n', r.out.size() - 2);
    const std::string last = r.out.substr(start == std::string::npos ? 0 : start + 1);
    return last.substr(0, last.find(';'));
}

// Every tile's output against one run on its own .flt: the same bytes, and
// the same summary.
void expectSameRuns(const TempDir &dir, const std::string &out, const std::string &reference, int tiles)
{
    EXPECT_EQ(summaryWithoutTimes(dir, out), summaryWithoutTimes(dir, reference));
    for (int t = 0; t < tiles; ++t) {
        const std::string name = "/t" + std::to_string(t) + ".las";
        ASSERT_TRUE(fileExists(dir / (reference + name))) << name;
        EXPECT_TRUE(readFile(dir / (out + name)) == readFile(dir / (reference + name))) << out << name;
    }
}

// The NODATA count of summary.csv, all tiles summed.
uint64_t nodataPoints(const TempDir &dir, const std::string &out)
{
    std::istringstream csv(readFile(dir / (out + "/summary.csv")));
    std::string line;
    std::getline(csv, line);
    uint64_t sum = 0;
    while (std::getline(csv, line)) {
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string field; std::getline(fields, field, ',');)
            f.push_back(field);
        sum += std::stoull(f.at(5));
    }
    return sum;
}

// The rasters: dem.tif (tiled, NODATA -9999); a mosaic of its west and east
// parts with a 10 m gap between them, its NODATA given to gdalbuildvrt as
// README says; the same terrain without a NODATA value (-9999 an elevation
// like any), and with the NODATA cells in an internal mask instead.
void writeRasters(const TempDir &dir)
{
    writeAsciiDem(dir);
    gdal(dir, "gdal_translate -q -a_srs EPSG:32632 -co TILED=YES -co BLOCKXSIZE=32 -co BLOCKYSIZE=32 dem.asc dem.tif");
    gdal(dir, "gdal_translate -q -srcwin 0 0 50 80 dem.tif west.tif");
    gdal(dir, "gdal_translate -q -srcwin 70 0 50 80 dem.tif east.tif");
    gdal(dir, "gdalbuildvrt -q -vrtnodata -9999 mosaic.vrt west.tif east.tif");
    gdal(dir, "gdal_translate -q -a_nodata none dem.tif plain.tif");
    gdal(dir, "gdal_translate -q -mask 1 -a_nodata none dem.tif masked.tif");
}

TEST(BatchGdal, EachRasterRunsAsTheFltGdalTranslateMakesOfIt)
{
    SKIP_WITHOUT_GDAL();
    struct Case {
        std::string raster;
        std::string reference;  // the raster gdal_translate converts for the run compared
        bool sameGrid;          // the prepared .flt holds the reference's bytes
        bool nodataPoints;
    };
    const std::vector<Case> cases = {
        {"dem.tif", "dem.tif", true, true},
        {"mosaic.vrt", "mosaic.vrt", true, true},  // its gap is NODATA, not 0
        {"plain.tif", "plain.tif", true, false},
        // A mask without a NODATA value: masked cells are written as the
        // lowest float, declared the NODATA value, where gdal_translate would
        // keep their bytes; so the run is the one on the NODATA twin.
        {"masked.tif", "dem.tif", false, true},
    };
    TempDir dir;
    writeRasters(dir);
    writeTiles(dir, 3);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.raster);
        const std::string out = "out-" + c.raster, reference = "reference-" + c.raster;
        gdal(dir, "gdal_translate -q -of EHdr -ot Float32 " + c.reference + " " + reference + ".flt");
        const RunResult r = runBatch(dir, {c.raster, "tiles", out, "2", "30"});
        ASSERT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_EQ(r.out.substr(0, r.out.find('\n') + 1),
                  "morvane-batch: prepared " + out + "/" + c.raster + ".flt from " + c.raster + "\n");
        EXPECT_EQ(counts(r), "3 tiles: 3 kept, 0 none, 0 failed, 0 killed, 0 skipped as already done");
        ASSERT_EQ(runBatch(dir, {reference + ".flt", "tiles", reference, "2", "30"}).status, 0);
        expectSameRuns(dir, out, reference, 3);
        EXPECT_EQ(nodataPoints(dir, out) > 0, c.nodataPoints) << summaryWithoutTimes(dir, out);
        if (c.sameGrid) {
            EXPECT_TRUE(readFile(dir / (out + "/" + c.raster + ".flt")) == readFile(dir / (reference + ".flt")));
        }
    }
    EXPECT_NE(readFile(dir / "out-masked.tif/masked.tif.hdr").find("\nNODATA_value -3.4028234663852886e+38\n"),
              std::string::npos);
    EXPECT_EQ(readFile(dir / "out-plain.tif/plain.tif.hdr").find("NODATA"), std::string::npos);
}

// Rasters larger than one window of 2^20 cells are read in pieces: blocks
// side by side along a row of 256-row blocks wider than a window, and rows
// of one strip larger than a window. The grid is the gdal_translate .flt's,
// byte for byte.
TEST(BatchGdal, LargerRastersAreReadWindowByWindow)
{
    SKIP_WITHOUT_GDAL();
    TempDir dir;
    writeAsciiDem(dir);
    writeTiles(dir, 1);
    gdal(dir, "gdal_translate -q -outsize 4200 280 -a_ullr 500000 5000140 502100 5000000 -co TILED=YES "
              "-co BLOCKXSIZE=256 -co BLOCKYSIZE=256 dem.asc tiled.tif");
    gdal(dir, "gdal_translate -q -outsize 1100 1000 -a_ullr 500000 5000500 500550 5000000 -co TILED=NO "
              "-co BLOCKYSIZE=1000 dem.asc strip.tif");
    for (const std::string raster : {"tiled.tif", "strip.tif"}) {
        SCOPED_TRACE(raster);
        gdal(dir, "gdal_translate -q -of EHdr -ot Float32 " + raster + " reference.flt");
        const RunResult r = runBatch(dir, {"--morvane", "/bin/true", raster, "tiles", "out", "2", "30"});
        ASSERT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_TRUE(readFile(dir / ("out/" + raster + ".flt")) == readFile(dir / "reference.flt"));
    }
}

TEST(BatchGdal, RefusesWhatCannotBePreparedAndSaysWhatToRun)
{
    SKIP_WITHOUT_GDAL();
    TempDir dir;
    writeAsciiDem(dir);
    writeTiles(dir, 1);
    gdal(dir, "gdal_translate -q dem.asc dem.tif");
    gdal(dir, "gdal_translate -q -b 1 -b 1 dem.tif two.tif");
    gdal(dir, "gdal_translate -q -a_ullr 500000 5000040 500060 5000000 -outsize 120 40 dem.tif oblong.tif");
    gdal(dir, "gdal_translate -q -of VRT dem.tif dem.vrt");
    // The same raster turned by a few degrees, and upside down.
    const std::string vrt = readFile(dir / "dem.vrt");
    const std::regex transform("<GeoTransform>[^<]*</GeoTransform>");
    writeFile(dir / "rotated.vrt",
              std::regex_replace(vrt, transform, "<GeoTransform>500000, 0.5, 0.05, 5000040, 0.05, -0.5</GeoTransform>"));
    writeFile(dir / "south-up.vrt",
              std::regex_replace(vrt, transform, "<GeoTransform>500000, 0.5, 0, 5000000, 0, 0.5</GeoTransform>"));
    writeFile(dir / "junk.tif", "not a raster\n");
    const std::string usage = "Usage: morvane-batch [OPTIONS] RASTER TILES OUTDIR MIN MAX\n";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"two.tif", "raster two.tif has 2 bands; take the elevation band into a raster of its own first: "
                    "gdal_translate -b 1 two.tif two-band1.tif"},
        {"rotated.vrt", "raster rotated.vrt is rotated (geotransform terms 0.05 and 0.05); resample it to north-up "
                        "square cells first: gdalwarp -tr 0.5024937810560445 0.5024937810560445 rotated.vrt "
                        "rotated-north-up.tif"},
        {"south-up.vrt", "raster south-up.vrt is not north-up (its rows run south to north); resample it to "
                         "north-up cells first: gdalwarp -tr 0.5 0.5 south-up.vrt south-up-north-up.tif"},
        {"oblong.tif", "raster oblong.tif has cells of 0.5 x 1, not square; resample it to square cells first: "
                       "gdalwarp -tr 0.5 0.5 oblong.tif oblong-square.tif"},
        {"junk.tif", "cannot read raster junk.tif: `junk.tif' not recognized as a supported file format."},
        {"gone.tif", "cannot read raster gone.tif: No such file or directory"},
    };
    for (const auto &[raster, refusal] : cases) {
        SCOPED_TRACE(raster);
        const RunResult r = runBatch(dir, {raster, "tiles", "out", "2", "30"});
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "morvane-batch: " + refusal + "\n" + usage);
        EXPECT_FALSE(fileExists(dir / "out")) << "nothing is run or made";
    }
}

ino_t inodeOf(const std::string &path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// Moves a file's modification time on by a second, as a rewrite would.
void touch(const std::string &path)
{
    fs::last_write_time(path, fs::last_write_time(path) + std::chrono::seconds(1));
}

TEST(BatchGdal, PreparesAgainOnlyWhenTheRastersFilesChange)
{
    SKIP_WITHOUT_GDAL();
    TempDir dir;
    writeRasters(dir);
    writeTiles(dir, 2);
    gdal(dir, "gdal_translate -q -of EHdr -ot Float32 mosaic.vrt reference.flt");
    ASSERT_EQ(runBatch(dir, {"reference.flt", "tiles", "reference", "2", "30"}).status, 0);
    struct Step {
        const char *what;
        void (*change)(const TempDir &);
        bool prepared;
        std::string counts;
    };
    const std::string ran = "2 tiles: 2 kept, 0 none, 0 failed, 0 killed, 0 skipped as already done";
    const std::string skipped = "2 tiles: 0 kept, 0 none, 0 failed, 0 killed, 2 skipped as already done";
    const std::vector<Step> steps = {
        {"first run", [](const TempDir &) {}, true, ran},
        {"again", [](const TempDir &) {}, false, skipped},
        {"a source of the mosaic rewritten", [](const TempDir &d) { touch(d / "west.tif"); }, true, ran},
        {"again", [](const TempDir &) {}, false, skipped},
        // The grid made again from the same files is the same grid, with the
        // same time: the tiles stay done.
        {"the prepared .hdr removed", [](const TempDir &d) { fs::remove(d / "out/mosaic.vrt.hdr"); }, true, skipped},
        {"the prepared .flt cut short",
         [](const TempDir &d) { fs::resize_file(d / "out/mosaic.vrt.flt", 1000); }, true, skipped},
        {"the record of the source removed (a preparation cut short)",
         [](const TempDir &d) { fs::remove(d / "out/mosaic.vrt.source"); }, true, skipped},
        {"the mosaic rewritten", [](const TempDir &d) { touch(d / "mosaic.vrt"); }, true, ran},
        {"again", [](const TempDir &) {}, false, skipped},
    };
    for (const Step &s : steps) {
        SCOPED_TRACE(s.what);
        s.change(dir);
        const ino_t before = inodeOf(dir / "out/mosaic.vrt.flt");
        const RunResult r = runBatch(dir, {"mosaic.vrt", "tiles", "out", "2", "30"});
        ASSERT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_EQ(r.out.substr(0, r.out.find('\n') + 1),
                  s.prepared ? "morvane-batch: prepared out/mosaic.vrt.flt from mosaic.vrt\n"
                             : "morvane-batch: using out/mosaic.vrt.flt, prepared earlier from mosaic.vrt\n");
        EXPECT_EQ(inodeOf(dir / "out/mosaic.vrt.flt") != before, s.prepared);
        EXPECT_EQ(counts(r), s.counts);
        expectSameRuns(dir, "out", "reference", 2);
        EXPECT_TRUE(readFile(dir / "out/mosaic.vrt.flt") == readFile(dir / "reference.flt"));
    }
}

// A raster whose cells cannot all be read (a GeoTIFF cut short) fails the
// batch before any tile runs and leaves nothing a later batch would use:
// each batch tries again until the raster is whole.
TEST(BatchGdal, APreparationThatFailsLeavesNothingToUse)
{
    SKIP_WITHOUT_GDAL();
    TempDir dir;
    writeAsciiDem(dir);
    writeTiles(dir, 1);
    gdal(dir, "gdal_translate -q -co TILED=NO dem.asc whole.tif");
    gdal(dir, "gdal_translate -q -of EHdr -ot Float32 whole.tif reference.flt");
    ASSERT_EQ(runBatch(dir, {"reference.flt", "tiles", "reference", "2", "30"}).status, 0);
    const std::string whole = readFile(dir / "whole.tif");
    const std::vector<std::pair<std::string, int>> steps = {
        {whole, 0}, {whole.substr(0, whole.size() * 2 / 5), 2}, {"", 2}, {whole, 0}};
    for (size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE(i);
        if (!steps[i].first.empty()) {
            writeFile(dir / "dem.tif", steps[i].first);
            touch(dir / "dem.tif");
        }
        const RunResult r = runBatch(dir, {"dem.tif", "tiles", "out", "2", "30"});
        ASSERT_EQ(r.status, steps[i].second) << r.out << r.err;
        if (r.status == 0) {
            EXPECT_EQ(r.out.substr(0, r.out.find('\n') + 1), "morvane-batch: prepared out/dem.tif.flt from dem.tif\n");
            expectSameRuns(dir, "out", "reference", 1);
        } else {
            EXPECT_EQ(r.out, "");
            EXPECT_TRUE(r.err.starts_with("morvane-batch: cannot read raster dem.tif: ")) << r.err;
        }
        for (const auto &entry : fs::directory_iterator(dir / "out"))
            EXPECT_FALSE(entry.path().filename().string().starts_with(".morvane-batch-")) << entry.path();
    }
}

// Three shares started at once on one output folder: each prepares the
// mosaic or uses the one another share prepared, and every tile's output
// is the one the gdal_translate .flt gives.
TEST(BatchGdal, SharesStartedAtOncePrepareOneGrid)
{
    SKIP_WITHOUT_GDAL();
    TempDir dir;
    writeRasters(dir);
    writeTiles(dir, 6);
    gdal(dir, "gdal_translate -q -of EHdr -ot Float32 mosaic.vrt reference.flt");
    ASSERT_EQ(runBatch(dir, {"reference.flt", "tiles", "reference", "2", "30"}).status, 0);
    RunOptions options;
    options.cwd = dir.path();
    options.timeLimit = std::chrono::seconds(60);
    std::vector<std::unique_ptr<ChildRun>> shares;
    for (const char *share : {"1/3", "2/3", "3/3"})
        shares.push_back(std::make_unique<ChildRun>(
            MORVANE_BATCH_EXE, std::vector<std::string>{"--shard", share, "mosaic.vrt", "tiles", "out", "2", "30"},
            options));
    for (const auto &share : shares) {
        const RunResult r = share->finish();
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_TRUE(r.out.starts_with("morvane-batch: prepared out/mosaic.vrt.flt from mosaic.vrt\n") ||
                    r.out.starts_with("morvane-batch: using out/mosaic.vrt.flt, prepared earlier from mosaic.vrt\n"))
            << r.out;
    }
    ASSERT_EQ(runBatch(dir, {"--summary", "out"}).status, 0);
    expectSameRuns(dir, "out", "reference", 6);
    for (const auto &entry : fs::directory_iterator(dir / "out"))
        EXPECT_FALSE(entry.path().filename().string().starts_with(".morvane-batch-")) << entry.path();
    const RunResult again = runBatch(dir, {"mosaic.vrt", "tiles", "out", "2", "30"});
    EXPECT_EQ(again.out.substr(0, again.out.find('\n') + 1),
              "morvane-batch: using out/mosaic.vrt.flt, prepared earlier from mosaic.vrt\n");
    EXPECT_EQ(counts(again), "6 tiles: 0 kept, 0 none, 0 failed, 0 killed, 6 skipped as already done");
}

}  // namespace
