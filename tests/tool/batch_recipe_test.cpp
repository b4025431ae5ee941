// README's xargs line, as written there, on three tiles against one DEM: one
// inside it, one partly beyond its edge, one with no point in the window.
#include "console_text.h"
#include "grid_builder.h"
#include "las_builder.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

using namespace test_support;

namespace {

std::string readmeLine(const std::string &containing)
{
    std::istringstream readme(readFile(std::string(MORVANE_SOURCE_DIR) + "/README.md"));
    for (std::string line; std::getline(readme, line);)
        if (line.find(containing) != std::string::npos)
            return line.substr(line.find_first_not_of(' '));
    return {};
}

std::vector<Point> tile(int32_t x0, int32_t y0, int32_t z)
{
    std::vector<Point> points;
    for (int32_t i = 0; i < 50; ++i)
        points.push_back({x0 + i * 97 % 4000, y0 + i * 61 % 4000, z + i % 3 * 100, 1});
    return points;
}

TEST(BatchRecipe, ReadmeXargsLineCutsEveryTile)
{
    const std::string line = readmeLine("xargs -0 -P");
    ASSERT_NE(line, "") << "README.md has no xargs line";
    TempDir dir;
    TestGrid dem;  // 100 x 100 cells of 1 m at (500000, 4500000), 10 m high
    dem.rows = dem.cols = 100;
    dem.minx = 500000;
    dem.miny = 4500000;
    dem.south.assign(100 * 100, 10.0f);
    dem.write(dir, GridForm::FloatEhdr, "dem");
    std::filesystem::create_directory(dir / "tiles");
    LasSpec layout;
    layout.offset[0] = 500000;
    layout.offset[1] = 4500000;
    const struct {
        const char *name;
        std::vector<Point> points;
        int status;
    } tiles[] = {
        {"inside.las", tile(1000, 1000, 1500), 0},  // 15 m to 17 m: 5 to 7 m above
        {"beyond.las", tile(8000, 8000, 1500), 0},  // reaches 20 m past the north-east corner
        {"ground.las", tile(3000, 3000, 900), 1},   // 9 m to 11 m: none 2 to 30 m above
    };
    for (const auto &t : tiles)
        writeFile(dir / "tiles/" + t.name, buildLas(layout, t.points));

    const std::string morvaneDir = std::filesystem::path(MORVANE_EXE).parent_path().string();
    const RunResult r = runProgram("/bin/sh", {"-c", "PATH='" + morvaneDir + "':\"$PATH\"; " + line}, {dir.path()});
    ASSERT_EQ(r.status, 0) << r.out << r.err;

    std::vector<std::string> statuses;
    std::istringstream status(readFile(dir / "out/status.txt"));
    for (std::string s; std::getline(status, s);)
        statuses.push_back(s);
    std::sort(statuses.begin(), statuses.end());
    EXPECT_EQ(statuses, (std::vector<std::string>{"0 tiles/beyond.las", "0 tiles/inside.las", "1 tiles/ground.las"}));
    for (const auto &t : tiles) {
        SCOPED_TRACE(t.name);
        const std::string out = dir / ("out/" + std::string(t.name));
        // The same tile run on its own gives the same console and output.
        const RunResult alone = runMorvane({"dem.flt", "tiles/" + std::string(t.name), "alone.las", "2", "30"},
                                           dir.path());
        EXPECT_EQ(alone.status, t.status);
        std::string log = readFile(out + ".log");
        std::string expected = alone.out;
        const auto replaceAll = [](std::string &s, const std::string &from, const std::string &to) {
            for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
                s.replace(at, from.size(), to);
        };
        replaceAll(expected, "alone.las", "out/" + std::string(t.name));
        EXPECT_EQ(maskTiming(log), maskTiming(expected));
        ASSERT_EQ(fileExists(out), t.status == 0);
        if (t.status == 0) {
            EXPECT_TRUE(readFile(out) == readFile(dir / "alone.las"));
        }
    }
    PrintedTally beyond;
    readTally(readFile(dir / "out/beyond.las.log"), beyond);
    EXPECT_GT(beyond.outside, 0u);
    EXPECT_GT(beyond.meet, 0u);
}

}  // namespace
