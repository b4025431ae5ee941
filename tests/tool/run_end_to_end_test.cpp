// Morvane end to end: the real executable on files made here, with the
// exact console bytes, exit status and output bytes.
#include "console_text.h"
#include "las_builder.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using namespace test_support;

namespace {

// The elevation grid of a test, row 0 the southern row.
struct Grid {
    int rows = 3, cols = 2;
    float minx = 100.0f, miny = 200.0f, cell = 10.0f, nodata = -9999.0f;
    std::vector<float> south;  // rows * cols, south row first

    float at(int r, int c) const { return south[static_cast<size_t>(r * cols + c)]; }

    std::vector<float> northFirst() const
    {
        std::vector<float> v;
        for (int r = rows - 1; r >= 0; --r)
            for (int c = 0; c < cols; ++c)
                v.push_back(at(r, c));
        return v;
    }

    std::string asciiText() const
    {
        std::vector<std::string> values;
        for (float v : northFirst())
            values.push_back(format("%.9g", double(v)));
        return asciiGrid(cols, rows, format("%.9g", double(minx)), format("%.9g", double(miny)),
                         format("%.9g", double(cell)), format("%.0f", double(nodata)), values);
    }

    std::string headerText() const
    {
        return format("ncols %d\nnrows %d\nxllcorner %.9g\nyllcorner %.9g\ncellsize %.9g\nNODATA_value %.0f\n",
                      cols, rows, double(minx), double(miny), double(cell), double(nodata));
    }
};

enum class Fate { Outside, Nodata, Selected, NotSelected };

// The selection rule, written out plainly.
Fate fateOf(const Grid &g, const LasSpec &s, const Point &p, double low, double high)
{
    const double row = std::floor((p.y * s.scale[1] + s.offset[1] - double(g.miny)) / double(g.cell));
    const double col = std::floor((p.x * s.scale[0] + s.offset[0] - double(g.minx)) / double(g.cell));
    if (!(row >= 0 && row < g.rows && col >= 0 && col < g.cols))
        return Fate::Outside;
    const float v = g.at(static_cast<int>(row), static_cast<int>(col));
    if (v == g.nodata)
        return Fate::Nodata;
    const double z = p.z * s.scale[2] + s.offset[2];
    return z >= double(v) + low && z <= double(v) + high ? Fate::Selected : Fate::NotSelected;
}

struct Expectation {
    std::string output;  // expected output file bytes ("" when none)
    uint32_t counts[4] = {};  // by Fate
};

// Output bytes: the input header refreshed from the selected records, the
// variable-length records verbatim, the selected records unchanged.
Expectation expect(const Grid &g, const LasSpec &s, const std::vector<Point> &points, double low, double high)
{
    Expectation e;
    const std::string input = buildLas(s, points);
    const uint16_t len = s.recordLength ? s.recordLength : formatLength(s.format);
    const size_t offset = 227 + s.vlrBytes.size();
    std::string records;
    uint32_t byReturn[5] = {};
    int32_t maxX = -2147483646, minX = 2147483646, maxY = -2147483646, minY = 2147483646;
    int32_t maxZ = -2147483646, minZ = 2147483646;
    for (size_t i = 0; i < points.size(); ++i) {
        const Fate f = fateOf(g, s, points[i], low, high);
        ++e.counts[static_cast<int>(f)];
        if (f != Fate::Selected)
            continue;
        const Point &p = points[i];
        records += input.substr(offset + i * len, len);
        const int r = p.returnByte & 7;
        if (r >= 1 && r <= 5)
            ++byReturn[r - 1];
        maxX = std::max(maxX, p.x), minX = std::min(minX, p.x);
        maxY = std::max(maxY, p.y), minY = std::min(minY, p.y);
        maxZ = std::max(maxZ, p.z), minZ = std::min(minZ, p.z);
    }
    if (records.empty())
        return e;
    std::string header = input.substr(0, 227);
    putLE<uint32_t>(header, 107, static_cast<uint32_t>(records.size() / len));
    for (size_t r = 0; r < 5; ++r)
        putLE<uint32_t>(header, 111 + 4 * r, byReturn[r]);
    putLE<double>(header, 179, maxX * s.scale[0] + s.offset[0]);
    putLE<double>(header, 187, minX * s.scale[0] + s.offset[0]);
    putLE<double>(header, 195, maxY * s.scale[1] + s.offset[1]);
    putLE<double>(header, 203, minY * s.scale[1] + s.offset[1]);
    putLE<double>(header, 211, maxZ * s.scale[2] + s.offset[2]);
    putLE<double>(header, 219, minZ * s.scale[2] + s.offset[2]);
    e.output = header + s.vlrBytes + records;
    return e;
}

// A run's files in a fresh directory; names are relative to it.
struct Scenario {
    TempDir dir;
    Grid grid;
    LasSpec layout;
    std::vector<Point> points;
    RasterKind kind = RasterKind::Ascii;

    std::string rasterName() const { return kind == RasterKind::Ascii ? "dem.asc" : "dem.flt"; }

    void writeInputs() const
    {
        if (kind == RasterKind::Ascii) {
            writeFile(dir / "dem.asc", grid.asciiText());
        } else {
            writeFile(dir / "dem.flt", floatGrid(grid.northFirst()));
            writeFile(dir / "dem.hdr", grid.headerText());
        }
        writeFile(dir / "in.las", buildLas(layout, points));
    }

    RunResult run(const std::string &low, const std::string &high, const std::string &out = "out.las") const
    {
        writeInputs();
        return runMorvane({rasterName(), "in.las", out, low, high}, dir.path());
    }

    std::string transcript(double low, double high, const Expectation &e, const std::string &out = "out.las") const
    {
        const auto n = static_cast<uint32_t>(points.size());
        std::string t = bannerText() +
                        rasterDescription(kind, rasterName(), grid.rows, grid.cols, grid.minx, grid.miny,
                                          grid.cell, grid.nodata) +
                        rasterProgress(kind, grid.rows) + limitsText(low, high) + filesText("in.las", out, n) +
                        processingText(n) +
                        tallyText(e.counts[2], e.counts[3], e.counts[1], e.counts[0], n);
        return t + (e.counts[2] != 0 ? updatedText(out) : erasedText(out));
    }
};

// The 3 x 2 grid of the documentation, with two VLRs in the input.
void threeByTwo(Scenario &s)
{
    s.grid.south = {5, 6, 3, 4, 1, 2};  // file rows "1 2" / "3 4" / "5 6", north first
    s.layout.format = 1;
    s.layout.scale[0] = s.layout.scale[1] = s.layout.scale[2] = 0.01;
    s.layout.offset[0] = 100.0;
    s.layout.offset[1] = 200.0;
    s.layout.vlrBytes = buildVlr("LASF_Projection", 34735, std::string(24, '\x11')) +
                      buildVlr("LASF_Projection", 34737, "WGS 84 / UTM zone 33N|");
    s.layout.numberOfVlrs = 2;
}

TEST(EndToEnd, SelectsAgainstTheCellUnderEachPointWithExactConsoleAndBytes)
{
    for (RasterKind kind : {RasterKind::Ascii, RasterKind::Float}) {
        SCOPED_TRACE(kind == RasterKind::Ascii ? "asc" : "flt");
        Scenario s;
        threeByTwo(s);
        s.kind = kind;
        // Raw X/Y in hundredths from the south-west corner (100, 200); z in hundredths.
        s.points = {
            {1, 1, 500 + 100, 1},      // just north-east of the corner: cell 5, z = 6 → selected
            {1, 1, 500 + 301, 2},      // same cell, z = 8.01: just above the window
            {1500, 1500, 300 + 200, 1},// cell 4 (row 1, col 1), z = 5: low edge, selected
            {1500, 1500, 300 + 400, 3},// z = 7 = v + 3: high edge, selected
            {0, 0, 600, 7},            // exactly on the corner: inside, cell 5, z = 6 → selected
            {-1, 500, 600, 1},         // west of the grid
            {500, -1, 600, 1},         // south of the grid
            {2000, 500, 600, 1},       // on the east edge: outside
            {500, 3000, 600, 1},       // on the north edge: outside
            {1999, 2999, 200 + 150, 2},// north-east cell (value 2), z = 3.5 → selected
            {1000, 2000, 50, 1},       // row 2 col 1 (value 2), z = 0.5 → not selected
        };
        const double low = 1, high = 3;
        const Expectation e = expect(s.grid, s.layout, s.points, low, high);
        ASSERT_EQ(e.counts[2], 5u);
        const RunResult r = s.run("1", "3");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(maskTiming(r.out), s.transcript(low, high, e));
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(readFile(s.dir / "out.las"), e.output);
    }
}

TEST(EndToEnd, NodataCellsAndNegativeLimits)
{
    Scenario s;
        threeByTwo(s);
    s.grid.south = {-9999, 10, 20, -9999, 30, 40};
    s.points = {
        {100, 100, 1000, 1},    // NODATA cell, z equals v + low of a real cell: still NODATA
        {1500, 100, 850, 1},    // cell 10, z = 8.5 = v - 1.5 → selected (low -2, high 1.5)
        {1500, 100, 1150, 1},   // z = 11.5 = v + 1.5 → selected (inclusive)
        {1500, 100, 1151, 1},   // just above
        {100, 1500, 1990, 2},   // cell 20, z = 19.9 → selected
        {1500, 1500, 0, 1},     // NODATA
    };
    const double low = -2, high = 1.5;
    const Expectation e = expect(s.grid, s.layout, s.points, low, high);
    ASSERT_EQ(e.counts[1], 2u);
    const RunResult r = s.run("-2", "1.5");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(maskTiming(r.out), s.transcript(low, high, e));
    EXPECT_EQ(readFile(s.dir / "out.las"), e.output);
}

TEST(EndToEnd, EveryVersionAndFormat)
{
    for (uint8_t minor = 0; minor <= 2; ++minor) {
        for (uint8_t format = 0; format <= 3; ++format) {
            SCOPED_TRACE(std::to_string(minor) + "/" + std::to_string(format));
            Scenario s;
        threeByTwo(s);
            s.layout.versionMinor = minor;
            s.layout.format = format;
            for (int i = 0; i < 40; ++i)
                s.points.push_back({i * 50, i * 70, 100 * (i % 9), static_cast<uint8_t>(1 + i % 7)});
            const Expectation e = expect(s.grid, s.layout, s.points, 0, 3);
            const RunResult r = s.run("0", "3");
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(maskTiming(r.out), s.transcript(0, 3, e));
            EXPECT_EQ(readFile(s.dir / "out.las"), e.output);
        }
    }
}

TEST(EndToEnd, ProgressLinesFollowThePointCount)
{
    for (int n : {1, 50, 99, 100, 150, 1000}) {
        SCOPED_TRACE(n);
        Scenario s;
        threeByTwo(s);
        for (int i = 0; i < n; ++i)
            s.points.push_back({(i * 37) % 2000, (i * 53) % 3000, (i * 11) % 900, 1});
        const Expectation e = expect(s.grid, s.layout, s.points, 0, 5);
        const RunResult r = s.run("0", "5");
        EXPECT_EQ(maskTiming(r.out), s.transcript(0, 5, e));
        EXPECT_EQ(r.status, e.counts[2] ? 0 : 1);
    }
    EXPECT_EQ(processingText(50), "... processing ... ( 0% done )\r");
    EXPECT_EQ(processingText(150).size(), std::string("... processing ... ( 0% done )\r").size() * 10 +
                                              std::string("... processing ... ( 10% done )\r").size() * 90 +
                                              std::string("... processing ... ( 100% done )\r").size() * 50);
}

TEST(EndToEnd, RasterProgressFollowsTheRowCount)
{
    for (RasterKind kind : {RasterKind::Ascii, RasterKind::Float}) {
        for (int rows : {1, 5, 49, 1000}) {
            SCOPED_TRACE(std::to_string(rows) + (kind == RasterKind::Ascii ? " asc" : " flt"));
            Scenario s;
            s.kind = kind;
            s.grid.rows = rows;
            s.grid.cols = 3;
            s.grid.cell = 1.0f;
            s.grid.south.assign(static_cast<size_t>(rows * 3), 7.25f);
            s.points = {{1, 1, 725, 1}};
            s.layout.offset[0] = 100.0;
            s.layout.offset[1] = 200.0;
            const Expectation e = expect(s.grid, s.layout, s.points, -1, 1);
            const RunResult r = s.run("-1", "1");
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(maskTiming(r.out), s.transcript(-1, 1, e));
        }
    }
    // The documented report points.
    const std::string flt1000 = rasterProgress(RasterKind::Float, 1000);
    EXPECT_NE(flt1000.find(" 10% done"), std::string::npos);
    EXPECT_EQ(flt1000.find("  5% done"), std::string::npos);
    EXPECT_NE(rasterProgress(RasterKind::Ascii, 1000).find("  2% done"), std::string::npos);
    EXPECT_EQ(rasterProgress(RasterKind::Ascii, 5).find("% done"), rasterProgress(RasterKind::Ascii, 5).rfind("% done"));
}

TEST(EndToEnd, NoSelectionErasesTheOutput)
{
    Scenario s;
        threeByTwo(s);
    s.points = {{1, 1, 100000, 1}, {-5, -5, 0, 1}};
    writeFile(s.dir / "out.las", "an older output");
    const Expectation e = expect(s.grid, s.layout, s.points, 0, 1);
    const RunResult r = s.run("0", "1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(maskTiming(r.out), s.transcript(0, 1, e));
    EXPECT_FALSE(fileExists(s.dir / "out.las"));
}

TEST(EndToEnd, EmptyInputPrintsZeroPercentages)
{
    Scenario s;
        threeByTwo(s);
    const Expectation e = expect(s.grid, s.layout, s.points, 0, 1);
    const RunResult r = s.run("0", "1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(maskTiming(r.out), s.transcript(0, 1, e));
    EXPECT_NE(r.out.find("0 points ( 0.00% of input) meet selection criteria"), std::string::npos);
    EXPECT_FALSE(fileExists(s.dir / "out.las"));
}

// An output that does not end in .las is refused at the name checks, before
// the raster is read: an existing file of that name keeps its bytes, whether
// or not a point would have been selected.
TEST(EndToEnd, OutputNotNamedLasIsRefusedBeforeAnythingIsWritten)
{
    for (const char *name : {"notes.txt", "OUT.LAS", "out.laz"}) {
        for (const int32_t z : {600, 90000}) {  // selected, or above every window
            SCOPED_TRACE(std::string(name) + (z == 600 ? ", a point selected" : ", no point selected"));
            Scenario s;
            threeByTwo(s);
            s.points = {{1, 1, z, 1}};
            writeFile(s.dir / name, "the user's own file");
            const RunResult r = s.run("0", "3", name);
            EXPECT_EQ(r.status, 255);
            EXPECT_EQ(r.out, bannerText() + "\nFile extension of " + name + " is not .las\n");
            EXPECT_EQ(readFile(s.dir / name), "the user's own file");
        }
    }
}

TEST(EndToEnd, CommandLineRefusals)
{
    Scenario s;
        threeByTwo(s);
    s.points = {{1, 1, 600, 1}};
    s.writeInputs();
    const std::string banner = bannerText();
    const struct {
        std::vector<std::string> args;
        std::string out;
    } cases[] = {
        {{}, banner + usageText()},
        {{"dem.asc", "in.las", "out.las", "1"}, banner + usageText()},
        {{"dem.asc", "in.las", "out.las", "1", "2", "3"}, banner + usageText()},
        {{"dem.asc", "in.las", "out.las", "5", "5"},
         banner + "\nHigh Limit ( 5.000 ) should be greater than the Low Limit ( 5.000 )\n" + usageText()},
        {{"dem.asc", "in.las", "out.las", "3", "-1.25"},
         banner + "\nHigh Limit ( -1.250 ) should be greater than the Low Limit ( 3.000 )\n" + usageText()},
        {{"dem.asc", "in.las", "out.las", "+5", "6"}, banner + "\nInvalid argument value (+5)\n"},
        {{"dem.asc", "in.las", "out.las", "1", "1e3"}, banner + "\nInvalid argument value (1e3)\n"},
        {{"dem", "in.las", "out.las", "1", "2"}, banner + "\nFile name (dem) is too short\n"},
        {{"dem_asc", "in.las", "out.las", "1", "2"},
         banner + "\nExtension of file dem_asc should be preceeded by a dot (.)\n"},
        {{"dem.asc", "in_las", "out.las", "1", "2"},
         banner + "\nExtension of file in_las should be preceeded by a dot (.)\n"},
        {{"dem.asc", "in.las", "o.la", "1", "2"}, banner + "\nFile name (o.la) is too short\n"},
        {{"dem.asc", "gone.las", "out.las", "1", "2"},
         banner + "Unable to open file gone.las in file_access()\n\nFile gone.las does NOT exist\n"},
        {{"dem.ASC", "in.las", "out.las", "1", "2"},
         banner + "\nFile extension of dem.ASC should be either \"asc\" or  \"flt\"\n"},
        {{"none.flt", "in.las", "out.las", "1", "2"}, banner + "Failed to open file none.hdr for reading\n"},
        {{"none.asc", "in.las", "out.las", "1", "2"}, banner + "Failed to open file none.asc for reading\n"},
    };
    for (const auto &c : cases) {
        std::string label;
        for (const std::string &a : c.args)
            label += a + " ";
        SCOPED_TRACE(label);
        const RunResult r = runMorvane(c.args, s.dir.path());
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.out, c.out);
        EXPECT_FALSE(fileExists(s.dir / "out.las"));
    }
}

}  // namespace
