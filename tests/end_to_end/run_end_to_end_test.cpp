// Morvane end to end: the real executable on files made here, with the
// exact console bytes, exit status and output bytes.
#include "console_text.h"
#include "grid_builder.h"
#include "las_builder.h"
#include "reference.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using namespace test_support;

namespace {

// A run's files in a fresh directory; names are relative to it.
struct Scenario {
    TempDir dir;
    TestGrid grid{.rows = 3, .cols = 2, .minx = 100, .miny = 200, .cell = 10, .south = {}};
    LasSpec layout;
    std::vector<Point> points;
    GridForm form = GridForm::Ascii;

    RunResult run(const std::string &low, const std::string &high, const std::string &out = "out.las") const
    {
        const std::string raster = grid.write(dir, form);
        writeFile(dir / "in.las", buildLas(layout, points));
        return runMorvane({raster, "in.las", out, low, high}, dir.path());
    }

    // Runs with the given limits: the console must be the golden transcript,
    // the tally and the output bytes those of the reference.
    ExpectedCut check(const std::string &golden, const std::string &low, const std::string &high) const
    {
        const ExpectedCut ref = expectedCut(grid, layout, points, std::stod(low), std::stod(high));
        const RunResult r = run(low, high);
        EXPECT_EQ(r.status, ref.selected.empty() ? 1 : 0);
        EXPECT_EQ(maskTiming(r.out), goldenTranscript(golden, maskTiming(r.out)));
        EXPECT_EQ(r.err, "");
        PrintedTally printed;
        readTally(r.out, printed);
        EXPECT_EQ(printed, ref.tally);
        const std::string expected = expectedOutput(buildLas(layout, points), ref.selected);
        if (expected.empty()) {
            EXPECT_FALSE(fileExists(dir / "out.las"));
        } else {
            EXPECT_EQ(byteDifference(readFile(dir / "out.las"), expected), "");
        }
        return ref;
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
    for (const GridForm form : {GridForm::Ascii, GridForm::FloatClassic}) {
        SCOPED_TRACE(gridFormName(form));
        Scenario s;
        threeByTwo(s);
        s.form = form;
        // Raw X/Y in hundredths from the south-west corner (100, 200); z in hundredths.
        s.points = {
            {1, 1, 500 + 100, 1},        // just north-east of the corner: cell 5, z = 6 → selected
            {1, 1, 500 + 301, 2},        // same cell, z = 8.01: just above the window
            {1500, 1500, 300 + 200, 1},  // cell 4 (row 1, col 1), z = 5: low edge, selected
            {1500, 1500, 300 + 400, 3},  // z = 7 = v + 3: high edge, selected
            {0, 0, 600, 7},              // exactly on the corner: inside, cell 5, z = 6 → selected
            {-1, 500, 600, 1},           // west of the grid
            {500, -1, 600, 1},           // south of the grid
            {2000, 500, 600, 1},         // on the east edge: outside
            {500, 3000, 600, 1},         // on the north edge: outside
            {1999, 2999, 200 + 150, 2},  // north-east cell (value 2), z = 3.5 → selected
            {1000, 2000, 50, 1},         // row 2 col 1 (value 2), z = 0.5 → not selected
        };
        const ExpectedCut ref = s.check(form == GridForm::Ascii ? "selects_asc" : "selects_flt", "1", "3");
        EXPECT_EQ(ref.tally, (PrintedTally{5, 2, 0, 4}));
    }
}

TEST(EndToEnd, NodataCellsAndNegativeLimits)
{
    Scenario s;
    threeByTwo(s);
    s.grid.south = {-9999, 10, 20, -9999, 30, 40};
    s.points = {
        {100, 100, 1000, 1},   // NODATA cell, z equals v + low of a real cell: still NODATA
        {1500, 100, 850, 1},   // cell 10, z = 8.5 = v - 1.5 → selected (low -2, high 1.5)
        {1500, 100, 1150, 1},  // z = 11.5 = v + 1.5 → selected (inclusive)
        {1500, 100, 1151, 1},  // just above
        {100, 1500, 1990, 2},  // cell 20, z = 19.9 → selected
        {1500, 1500, 0, 1},    // NODATA
    };
    EXPECT_EQ(s.check("nodata_negative_limits", "-2", "1.5").tally, (PrintedTally{3, 1, 2, 0}));
}

// One progress line per hundredth of the points, or only the first line
// when there are fewer than a hundred; the percentage is i / step, past 100
// when the step rounds down.
TEST(EndToEnd, ProgressLinesFollowThePointCount)
{
    for (int n : {1, 50, 99, 100, 150, 1000}) {
        SCOPED_TRACE(n);
        Scenario s;
        threeByTwo(s);
        for (int i = 0; i < n; ++i)
            s.points.push_back({(i * 37) % 2000, (i * 53) % 3000, (i * 11) % 900, 1});
        s.check("points_" + std::to_string(n), "0", "5");
    }
}

// Loading reports every tenth (binary) or fiftieth (ASCII) of the rows,
// counting down from the north row; row 0 always reports 100.
TEST(EndToEnd, RasterProgressFollowsTheRowCount)
{
    for (const GridForm form : {GridForm::Ascii, GridForm::FloatClassic}) {
        for (int rows : {1, 5, 49, 1000}) {
            const std::string name = "rows_" + std::to_string(rows) + (form == GridForm::Ascii ? "_asc" : "_flt");
            SCOPED_TRACE(name);
            Scenario s;
            s.form = form;
            s.grid.rows = rows;
            s.grid.cols = 3;
            s.grid.cell = 1;
            s.grid.south.assign(static_cast<size_t>(rows * 3), 7.25f);
            s.points = {{1, 1, 725, 1}};
            s.layout.offset[0] = 100.0;
            s.layout.offset[1] = 200.0;
            s.check(name, "-1", "1");
        }
    }
}

TEST(EndToEnd, NoSelectionErasesTheOutput)
{
    Scenario s;
    threeByTwo(s);
    s.points = {{1, 1, 100000, 1}, {-5, -5, 0, 1}};
    writeFile(s.dir / "out.las", "an older output");
    s.check("no_selection", "0", "1");
}

TEST(EndToEnd, EmptyInputPrintsZeroPercentages)
{
    Scenario s;
    threeByTwo(s);
    s.check("empty_input", "0", "1");
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
    s.grid.write(s.dir, s.form);
    writeFile(s.dir / "in.las", buildLas(s.layout, s.points));
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
        // An unset shell variable: refused, never read as 0, before any file is looked at.
        {{"dem.asc", "in.las", "out.las", "", "2"}, banner + "\nInvalid argument value ()\n"},
        {{"dem.asc", "in.las", "out.las", "-1", ""}, banner + "\nInvalid argument value ()\n"},
        {{"none.asc", "gone.las", "out.las", "", ""}, banner + "\nInvalid argument value ()\n"},
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
        {{"none.flt", "in.las", "out.las", "1", "2"},
         banner + "Failed to open file none.hdr for reading: No such file or directory\n"},
        {{"none.asc", "in.las", "out.las", "1", "2"},
         banner + "Failed to open file none.asc for reading: No such file or directory\n"},
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
