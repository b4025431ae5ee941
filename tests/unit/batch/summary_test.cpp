// summary.csv from the records in an output folder, and a tile's console as
// its log keeps it.
#include "summary.h"
#include "tile_console.h"

#include "file_system.h"
#include "test_files.h"

#include <gtest/gtest.h>

using namespace test_support;
using batch::Record;
using batch::TileStatus;

namespace {

Record record(const std::string &tile, TileStatus status, int exitStatus, std::optional<batch::Tally> tally, double s)
{
    Record r;
    r.tile = tile;
    r.status = status;
    r.exitStatus = exitStatus;
    r.tally = tally;
    r.seconds = s;
    return r;
}

TEST(Summary, OneRowPerRecordSortedByTileWithTheTallyWhereReached)
{
    TempDir dir;
    const std::vector<std::pair<std::string, Record>> files = {
        {"b/t.las.record", record("b/t.LAS", TileStatus::Kept, 0, batch::Tally{5, 6, 7, 8}, 0.5)},
        {"a/t.las.record", record("a/t.las", TileStatus::None, 1, batch::Tally{0, 50, 0, 0}, 0.0125)},
        {"x.las.record", record("x.las", TileStatus::Failed, 255, std::nullopt, 0.001)},
        {"q.las.record", record("q,\"1\"\nz.las", TileStatus::Killed, 137, std::nullopt, 2)},
        {".morvane-batch-Ab12Cd/3.record", record("temporary.las", TileStatus::Kept, 0, std::nullopt, 1)},
        {"y.las.log", record("not a record.las", TileStatus::Kept, 0, std::nullopt, 1)},
    };
    for (const auto &[rel, r] : files) {
        std::filesystem::create_directories(std::filesystem::path(dir / rel).parent_path());
        writeFile(dir / rel, batch::formatRecord(r));
    }
    writeFile(dir / "broken.las.record", "morvane-batch record 1\ntile br");

    const std::vector<Record> records = batch::collectRecords(dir.path());
    EXPECT_EQ(batch::summaryCsv(records), "tile,status,exit,kept,not_kept,nodata,outside,seconds\n"
                                          "a/t.las,none,1,0,50,0,0,0.013\n"
                                          "b/t.LAS,kept,0,5,6,7,8,0.500\n"
                                          "\"q,\"\"1\"\"\nz.las\",killed,137,,,,,2.000\n"
                                          "x.las,failed,255,,,,,0.001\n");
    const batch::Totals t = batch::totalsOf(records);
    EXPECT_EQ(std::vector<size_t>({t.kept, t.none, t.failed, t.killed}), std::vector<size_t>({1, 1, 1, 1}));
    EXPECT_EQ(t.pointsKept, 5u);
    EXPECT_EQ(t.points, 76u);
}

TEST(Summary, CsvFieldsAreQuotedOnlyWhenTheyMustBe)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"a/t.las", "a/t.las"},         {"sp ace'.las", "sp ace'.las"}, {"c,d.las", "\"c,d.las\""},
        {"q\"t.las", "\"q\"\"t.las\""}, {"n\nl.las", "\"n\nl.las\""},   {"cr\r.las", "\"cr\r.las\""},
        {"\xff.las", "\xff.las"},
    };
    for (const auto &[field, csv] : cases)
        EXPECT_EQ(batch::csvField(field), csv);
}

// Morvane's console, cut into pieces as a pipe may deliver it.
TEST(TileConsole, KeepsWholeLinesAndLeavesProgressOut)
{
    struct Case {
        std::string console, log, lastLine;
    };
    const std::string tally = "\r                        6856 points ( 34.28% of input) meet selection criteria\n"
                              "                        9401 points ( 47.01% of input) do not\n"
                              "                         285 points ( 1.43% of input) on NODATA raster cells\n"
                              "                        3458 points ( 17.29% of input) outside the raster\n\n";
    const std::vector<Case> cases = {
        {"Output LAS File         out/t.las\n... processing ... ( 0% done )\r... processing ... ( 1% done )\r" + tally +
             "... updating out/t.las header\r\rHeader of file out/t.las has been updated    \n\nCompleted in 0.003 "
             "seconds\n",
         "Output LAS File         out/t.las\n" + tally.substr(1) +
             "Header of file out/t.las has been updated    \n\nCompleted in 0.003 seconds\n",
         "Completed in 0.003 seconds"},
        {"\n\rASCII Raster file dem.asc\n\r... Reading raster ...  2% done \r", "\nASCII Raster file dem.asc\n",
         "ASCII Raster file dem.asc"},
        {"\ntiles/x.las is not a valid .las file\n", "\ntiles/x.las is not a valid .las file\n",
         "tiles/x.las is not a valid .las file"},
        {"cut off without a line feed", "cut off without a line feed\n", "cut off without a line feed"},
    };
    for (const Case &c : cases) {
        for (const size_t piece : {size_t{1}, size_t{7}, c.console.size()}) {
            batch::TileConsole console;
            for (size_t at = 0; at < c.console.size(); at += piece)
                console.feed(std::string_view(c.console).substr(at, piece));
            console.finish();
            EXPECT_EQ(console.pendingLog(), c.log) << c.console << " in pieces of " << piece;
            EXPECT_EQ(console.lastLine(), c.lastLine);
        }
    }
}

TEST(TileConsole, ReadsTheTallyOnlyWhenAllFourLinesCame)
{
    batch::TileConsole console;
    console.feed("                  4000000000 points ( 93.13% of input) meet selection criteria\n"
                 "                           0 points ( 0.00% of input) do not\n"
                 "                           1 points ( 0.00% of input) on NODATA raster cells\n");
    EXPECT_FALSE(console.tally());
    console.feed("                   294967295 points ( 6.87% of input) outside the raster\n");
    EXPECT_EQ(console.tally(), (batch::Tally{4000000000u, 0, 1, 294967295}));

    for (const std::string line : {"12 points ( 1.00% of input) do not quite", "Minimum                    2.000",
                                   "points ( 1.00% of input) do not", "-3 points ( 1.00% of input) do not"})
        EXPECT_FALSE(batch::tallyLine(line)) << line;
}

}  // namespace
