// The selection as a property: random surveys (every LAS version and point
// format, random scales and offsets, points inside, outside and exactly on
// the cell edges of a random grid with NODATA and NaN cells) and random
// limits. For each, the output records must be exactly, in order, the input
// records that the plain rule below selects; the four console counts must be
// the rule's and add up to the input count; the output header must agree
// with its records; the input must be unchanged.
//
// Cases are seeded: a failure names its case and seed, and
// MORVANE_PROPERTY_SEED=<n> runs another reproducible set.
#include "console_text.h"
#include "grid_builder.h"
#include "las_builder.h"
#include "raster/raster.h"
#include "reference.h"
#include "run/command_line.h"
#include "run/run.h"
#include "stdout_capture.h"
#include "test_files.h"
#include "text_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>
#include <regex>
#include <string>
#include <vector>

using namespace morvane;

using namespace test_support;

namespace {

uint64_t baseSeed()
{
    const char *env = std::getenv("MORVANE_PROPERTY_SEED");
    return env != nullptr ? std::strtoull(env, nullptr, 10) : 20240611u;
}

struct Survey {
    LasSpec layout;
    std::vector<Point> points;
    TestGrid grid;
    GridForm form = GridForm::Ascii;
    std::string low, high;
};

int32_t clampToInt32(double v)
{
    if (!(v > -2147483648.0))
        return std::numeric_limits<int32_t>::min();
    if (v > 2147483647.0)
        return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(std::llround(v));
}

class Generator {
public:
    explicit Generator(uint64_t seed) : rng_(seed) {}

    Survey survey(int minPoints, int maxPoints)
    {
        Survey s;
        // Dyadic scales, corners and cell sizes put points exactly on cell
        // edges and elevations exactly on the window's ends.
        const bool exact = chance(0.4);
        s.layout.versionMinor = static_cast<uint8_t>(integer(0, 2));
        s.layout.format = static_cast<uint8_t>(integer(0, 3));
        for (int a = 0; a < 3; ++a) {
            s.layout.scale[a] = exact ? pick({0.25, 0.5, 1.0, 0.125}) : pick({0.001, 0.01, 0.1, real(1e-4, 2.0)});
            s.layout.offset[a] = chance(0.4) ? 0.0 : exact ? std::round(real(-1e5, 1e5)) : real(-1e5, 1e5);
        }
        // Half the surveys at the magnitudes of real ones (UTM north and
        // south, State Plane feet), where a corner in single precision
        // would move by a good part of a unit.
        const bool survey = chance(0.5);
        const double baseX = survey ? pick({500000.0, 712345.0, 2100000.0}) : 0.0;
        const double baseY = survey ? pick({4500000.0, 8512345.0, 710000.0}) : 0.0;
        s.layout.offset[0] += baseX;
        s.layout.offset[1] += baseY;
        if (chance(0.2)) {
            s.layout.vlrBytes = buildVlr("random", static_cast<uint16_t>(integer(0, 65535)),
                                         std::string(static_cast<size_t>(integer(0, 40)), 'p'));
            s.layout.numberOfVlrs = 1;
        }

        TestGrid &g = s.grid;
        s.form = chance(0.5) ? GridForm::FloatClassic : GridForm::Ascii;
        g.rows = integer(1, 12);
        g.cols = integer(1, 12);
        g.cell = exact ? pick({0.5, 1.0, 2.5, 10.0}) : real(0.05, 25.0);
        g.minx = baseX + (exact ? std::round(real(-2e4, 2e4)) : real(-2e4, 2e4));
        g.miny = baseY + (exact ? std::round(real(-2e4, 2e4)) : real(-2e4, 2e4));
        const int nodata = static_cast<int>(pick({-9999.0, 0.0, -1.0, 32767.0}));
        g.nodata = std::to_string(nodata);
        for (int k = 0; k < g.rows * g.cols; ++k) {
            float v = static_cast<float>(exact ? std::round(real(-100, 1000) * 4) / 4 : real(-100, 1000));
            if (chance(0.15))
                v = static_cast<float>(nodata);
            else if (chance(0.03))
                v = std::numeric_limits<float>::quiet_NaN();
            g.south.push_back(v);
        }

        const double low = exact ? std::round(real(-50, 50) * 4) / 4 : real(-50, 50);
        const double width = exact ? std::round(real(0.25, 60) * 4) / 4 : real(0.001, 60);
        s.low = format("%.3f", low);
        s.high = format("%.3f", low + width);
        if (std::atof(s.high.c_str()) <= std::atof(s.low.c_str()))
            s.high = format("%.3f", std::atof(s.low.c_str()) + 1.0);

        const int n = integer(minPoints, maxPoints);
        for (int i = 0; i < n; ++i)
            s.points.push_back(point(s, std::atof(s.low.c_str()), std::atof(s.high.c_str())));
        return s;
    }

private:
    bool chance(double p) { return std::uniform_real_distribution<double>(0, 1)(rng_) < p; }
    int integer(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
    double real(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng_); }
    double pick(std::initializer_list<double> v) { return v.begin()[integer(0, static_cast<int>(v.size()) - 1)]; }

    // Cell coordinate (in cells from the corner) of a point: inside a cell,
    // on a lower or upper edge, just beyond the grid, or far away.
    double cellCoordinate(int cells)
    {
        switch (integer(0, 5)) {
        case 0: return integer(0, cells);                    // on an edge, the far one included
        case 1: return integer(-2, -1) + real(0, 1);         // west / south of the grid
        case 2: return cells + real(0, 2);                   // east / north of it
        default: return integer(0, cells - 1) + real(0, 1);  // inside a cell
        }
    }

    Point point(const Survey &s, double low, double high)
    {
        const TestGrid &g = s.grid;
        Point p;
        p.returnByte = static_cast<uint8_t>(integer(0, 255));
        p.classification = static_cast<uint8_t>(integer(0, 31));
        if (chance(0.03)) {
            p.x = static_cast<int32_t>(rng_());
            p.y = static_cast<int32_t>(rng_());
            p.z = static_cast<int32_t>(rng_());
            return p;
        }
        const double cx = cellCoordinate(g.cols), cy = cellCoordinate(g.rows);
        const double x = double(g.minx) + cx * double(g.cell);
        const double y = double(g.miny) + cy * double(g.cell);
        p.x = clampToInt32((x - s.layout.offset[0]) / s.layout.scale[0]);
        p.y = clampToInt32((y - s.layout.offset[1]) / s.layout.scale[1]);

        // Elevation near the window over the cell the point aims at.
        const int r = std::clamp(static_cast<int>(std::floor(cy)), 0, g.rows - 1);
        const int c = std::clamp(static_cast<int>(std::floor(cx)), 0, g.cols - 1);
        double v = g.at(r, c);
        if (!std::isfinite(v))
            v = 0;
        const double zs = s.layout.scale[2];
        double z;
        switch (integer(0, 5)) {
        case 0: z = v + low; break;
        case 1: z = v + high; break;
        case 2: z = v + low - zs; break;
        case 3: z = v + high + zs; break;
        default: z = real(v + low - 5, v + high + 5); break;
        }
        p.z = clampToInt32((z - s.layout.offset[2]) / zs);
        return p;
    }

    std::mt19937_64 rng_;
};

PrintedTally consoleTally(const std::string &console, uint32_t n, bool &percentagesOk)
{
    PrintedTally t;
    const std::vector<TallyLine> lines = readTally(console, t);
    percentagesOk = lines.size() == 4;
    for (const TallyLine &line : lines)
        percentagesOk = percentagesOk && line.percent == format("%.2f", n ? line.count * 100.0 / n : 0.0);
    return t;
}

struct Files {
    std::string raster, in, out;
};

Files writeSurvey(const TempDir &dir, const Survey &s, const std::string &input)
{
    writeFile(dir / "in.las", input);
    std::remove((dir / "grid.flt").c_str());
    return {dir / s.grid.write(dir, s.form, "grid"), dir / "in.las", dir / "out.las"};
}

// Everything that must hold after one run of one survey: the reference's
// tally, printed with its percentages, the input unchanged, and the
// reference output byte for byte (or none when nothing is selected).
void checkRun(const Survey &s, const std::string &input, const Files &f, int status, const std::string &console)
{
    const ExpectedCut ref = expectedCut(s.grid, s.layout, s.points, std::atof(s.low.c_str()),
                                        std::atof(s.high.c_str()));
    const auto n = static_cast<uint32_t>(s.points.size());
    bool percentagesOk = false;
    const PrintedTally printed = consoleTally(console, n, percentagesOk);
    EXPECT_EQ(printed, ref.tally) << console;
    EXPECT_EQ(uint64_t{printed.meet} + printed.doNot + printed.nodata + printed.outside, n);
    EXPECT_TRUE(percentagesOk) << console;
    EXPECT_EQ(readFile(f.in), input) << "input changed";

    if (ref.selected.empty()) {
        EXPECT_EQ(status, 1) << console;
        EXPECT_FALSE(fileExists(f.out));
        return;
    }
    ASSERT_EQ(status, 0) << console;
    ASSERT_TRUE(fileExists(f.out));
    EXPECT_EQ(byteDifference(readFile(f.out), expectedOutput(input, ref.selected)), "");
}

std::string describe(size_t index, uint64_t seed, const Survey &s)
{
    return "case " + std::to_string(index) + " (seed " + std::to_string(seed) + "): LAS 1." +
           std::to_string(s.layout.versionMinor) + " format " + std::to_string(s.layout.format) + ", " +
           std::to_string(s.points.size()) + " points, " + std::to_string(s.grid.rows) + "x" +
           std::to_string(s.grid.cols) + " " + gridFormName(s.form) + ", limits " + s.low + " " + s.high;
}

// The real executable: a few hundred surveys of many points each.
TEST(SelectionProperty, ExecutableMatchesReference)
{
    constexpr size_t kCases = 200;
    TempDir dir;
    for (size_t k = 0; k < kCases; ++k) {
        const uint64_t seed = baseSeed() * 1000003u + k;
        Generator gen(seed);
        const Survey s = gen.survey(200, 2500);
        SCOPED_TRACE(describe(k, seed, s));
        const std::string input = buildLas(s.layout, s.points);
        const Files f = writeSurvey(dir, s, input);
        const RunResult r = runMorvane({f.raster, f.in, f.out, s.low, s.high}, dir.path());
        EXPECT_EQ(r.err, "");
        checkRun(s, input, f, r.status == 255 ? -1 : r.status, r.out);
        std::remove(f.out.c_str());
        if (HasFailure())
            break;
    }
}

// The same run in this process (morvaneMain is main's whole run): thousands
// of smaller surveys. Only valid inputs reach it, so no run ends the process.
TEST(SelectionProperty, InProcessRunMatchesReference)
{
    constexpr size_t kCases = 2000;
    TempDir dir;
    for (size_t k = 0; k < kCases; ++k) {
        const uint64_t seed = baseSeed() * 7919u + 0x9e3779b9u + k;
        Generator gen(seed);
        const Survey s = gen.survey(0, 120);
        SCOPED_TRACE(describe(k, seed, s));
        const std::string input = buildLas(s.layout, s.points);
        const Files f = writeSurvey(dir, s, input);
        std::vector<std::string> args = {"Morvane", f.raster, f.in, f.out, s.low, s.high};
        std::vector<char *> argv;
        for (std::string &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int status = 0;
        const std::string console = capture_stdout(
            [&] { status = morvaneMain(static_cast<int>(args.size()), argv.data()); });
        checkRun(s, input, f, status, console);
        std::remove(f.out.c_str());
        if (HasFailure())
            break;
    }
}

}  // namespace
