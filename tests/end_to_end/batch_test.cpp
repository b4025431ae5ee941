// morvane-batch end to end: the real program running the real Morvane on
// tiles against one DEM. Each table is one concern: names, the four ways a
// tile ends (against the same tile run on its own), reruns, shares run at
// once, interruption, and the command line.
#include "console_text.h"
#include "flat_survey.h"
#include "grid_builder.h"
#include "las_builder.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using namespace test_support;
namespace fs = std::filesystem;

namespace {

std::string tileBytes(int32_t x0, int32_t y0, int32_t z)
{
    return buildLas(flatSurveyLayout(), flatSurveyTile(x0, y0, z));
}

const std::string &keptTile()
{
    static const std::string bytes = tileBytes(1000, 1000, 1500);
    return bytes;
}

void writeTile(const TempDir &dir, const std::string &rel, const std::string &bytes)
{
    fs::create_directories(fs::path(dir / rel).parent_path());
    writeFile(dir / rel, bytes);
}

RunResult runBatch(const TempDir &dir, const std::vector<std::string> &args)
{
    RunOptions options;
    options.cwd = dir.path();
    options.timeLimit = std::chrono::seconds(60);
    return runProgram(MORVANE_BATCH_EXE, args, options);
}

// The closing line without its wall time.
std::string counts(const RunResult &r)
{
    return r.out.substr(0, r.out.find(';'));
}

// Morvane's console as the log keeps it: the lines a carriage return ends left out.
std::string withoutProgress(const std::string &console)
{
    return std::regex_replace(console, std::regex("[^\r\n]*\r"), "");
}

std::string replaceAll(std::string s, const std::string &from, const std::string &to)
{
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
        s.replace(at, from.size(), to);
    return s;
}

// Rows of summary.csv (after its header) by tile, for tiles of plain names.
std::map<std::string, std::string> summaryRows(const TempDir &dir, const std::string &out = "out")
{
    std::map<std::string, std::string> rows;
    std::istringstream csv(readFile(dir / (out + "/summary.csv")));
    std::string line;
    std::getline(csv, line);
    EXPECT_EQ(line, "tile,status,exit,kept,not_kept,nodata,outside,seconds");
    while (std::getline(csv, line)) {
        const size_t comma = line.find(',');
        rows[line.substr(0, comma)] = line.substr(comma + 1, line.rfind(',') - comma - 1);
    }
    return rows;
}

// Files under out/ that no finished batch may leave: temporary folders and
// Morvane's partial outputs.
std::vector<std::string> leftovers(const TempDir &dir)
{
    std::vector<std::string> found;
    for (const auto &entry : fs::recursive_directory_iterator(dir / "out"))
        if (const std::string name = entry.path().filename().string();
            name.starts_with(".morvane-batch-") || name.find(".morvane-partial-") != std::string::npos)
            found.push_back(name);
    return found;
}

TEST(BatchNames, EveryTileGetsItsOwnOutputWhateverItsName)
{
    struct Case {
        std::vector<std::string> tiles;  // under tiles/
        int status;
        std::vector<std::string> outputs;  // under out/
        std::string error;
    };
    const std::vector<Case> cases = {
        {{"a/t.las", "b/t.las", "c/T.LAS", "c/u.Las", "sp ace/q'x\".las", "n\nl.las", "\xff\xfe.las", "-x.las"},
         0,
         {"a/t.las", "b/t.las", "c/T.las", "c/u.las", "sp ace/q'x\".las", "n\nl.las", "\xff\xfe.las", "-x.las"},
         ""},
        {{"t.las", "t.LAS"}, 2, {}, "morvane-batch: tiles t.LAS and t.las would both write t.las; rename one\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.tiles[0]);
        TempDir dir;
        writeFlatDem(dir);
        for (const std::string &t : c.tiles)
            writeTile(dir, "tiles/" + t, keptTile());
        const RunResult r = runBatch(dir, {"dem.flt", "tiles", "out", "2", "30"});
        ASSERT_EQ(r.status, c.status) << r.out << r.err;
        EXPECT_EQ(r.err.substr(0, c.error.size()), c.error);
        EXPECT_EQ(fileExists(dir / "out"), c.status == 0) << "no output folder before the checks pass";
        const RunResult alone = runMorvane({"dem.flt", "tiles/" + c.tiles[0], "alone.las", "2", "30"}, dir.path());
        for (const std::string &o : c.outputs) {
            EXPECT_TRUE(readFile(dir / ("out/" + o)) == readFile(dir / "alone.las")) << o;
            EXPECT_EQ(readFile(dir / ("out/" + o + ".log")).find('\r'), std::string::npos);
        }
        if (c.status == 0) {
            EXPECT_EQ(counts(r), "8 tiles: 8 kept, 0 none, 0 failed, 0 killed, 0 skipped as already done");
            EXPECT_EQ(leftovers(dir), std::vector<std::string>{});
            EXPECT_NE(readFile(dir / "out/summary.csv").find("\n\"n\nl.las\",kept,0,"), std::string::npos);
        }
    }
}

// A wrapper in place of Morvane that kills itself on tiles whose name says
// so, and otherwise runs the real one after `pause`.
std::string writeWrapper(const TempDir &dir, const std::string &pause = "")
{
    writeFile(dir / "wrapper", "#!/bin/sh\ncase \"$3\" in *killme*) kill -KILL $$ ;; esac\n" + pause + "exec '" +
                                   std::string(MORVANE_EXE) + "' \"$@\"\n");
    fs::permissions(dir / "wrapper", fs::perms::owner_all);
    return dir / "wrapper";
}

TEST(BatchOutcomes, EachTileEndsAsItDoesOnItsOwn)
{
    struct Case {
        std::string tile, bytes;
        int status;
        std::string row;  // summary.csv without tile and seconds
    };
    const std::string las = tileBytes(2000, 5000, 1500);
    const std::vector<Case> cases = {
        {"kept.las", las, 0, "kept,0,50,0,0,0"},
        {"beyond.las", tileBytes(8000, 8000, 1500), 0, "kept,0,21,0,0,29"},
        {"none.las", tileBytes(3000, 3000, 900), 1, "none,1,0,50,0,0"},
        {"junk.las", "not a LAS file", 255, "failed,255,,,,"},
        {"short.las", las.substr(0, las.size() - 30), 255, "failed,255,,,,"},
        {"killme.las", las, 137, "killed,137,,,,"},
    };
    TempDir dir;
    writeFlatDem(dir);
    fs::create_directory(dir / "alone");
    for (const Case &c : cases)
        writeTile(dir, "tiles/" + c.tile, c.bytes);
    const RunResult r = runBatch(dir,
                                 {"--morvane", writeWrapper(dir), "-j", "3", "dem.flt", "tiles", "out", "2", "30"});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_EQ(counts(r), "6 tiles: 2 kept, 1 none, 2 failed, 1 killed, 0 skipped as already done");
    const auto rows = summaryRows(dir);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.tile);
        EXPECT_EQ(rows.at(c.tile), c.row);
        if (c.status == 137) {
            EXPECT_NE(r.err.find("morvane-batch: killme.las: killed by signal 9: "), std::string::npos) << r.err;
            continue;
        }
        const RunResult alone = runMorvane({"dem.flt", "tiles/" + c.tile, "alone/" + c.tile, "2", "30"}, dir.path());
        ASSERT_EQ(alone.status, c.status);
        PrintedTally tally;
        if (!readTally(alone.out, tally).empty()) {
            EXPECT_EQ(c.row.substr(c.row.find(',', 5) + 1),
                      std::to_string(tally.meet) + "," + std::to_string(tally.doNot) + "," +
                          std::to_string(tally.nodata) + "," + std::to_string(tally.outside));
        }
        const std::string out = "out/" + c.tile;
        EXPECT_EQ(maskTiming(readFile(dir / (out + ".log"))),
                  maskTiming(withoutProgress(replaceAll(alone.out, "alone/" + c.tile, out))));
        ASSERT_EQ(fileExists(dir / out), c.status == 0);
        if (c.status == 0) {
            EXPECT_TRUE(readFile(dir / out) == readFile(dir / ("alone/" + c.tile)));
        }
        if (c.status == 255) {
            std::string said = alone.out;
            while (said.ends_with('\n'))
                said.pop_back();
            said.erase(0, said.rfind('\n') + 1);
            EXPECT_NE(r.err.find("morvane-batch: " + c.tile + ": failed (exit 255): " + said + "\n"), std::string::npos)
                << r.err;
        }
    }
}

// Listed tiles that are a FIFO or gone: each fails with Morvane's own
// message in its log, and the batch goes on.
TEST(BatchOutcomes, AListedFifoOrMissingTileFailsWithMorvanesMessage)
{
    TempDir dir;
    writeFlatDem(dir);
    writeTile(dir, "tiles/a.las", keptTile());
    ASSERT_EQ(::mkfifo((dir / "tiles/fifo.las").c_str(), 0600), 0);
    writeFile(dir / "list.txt", "tiles/a.las\ntiles/fifo.las\ntiles/gone.las\n");
    const RunResult r = runBatch(dir, {"dem.flt", "list.txt", "out", "2", "30"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(counts(r), "3 tiles: 1 kept, 0 none, 2 failed, 0 killed, 0 skipped as already done");
    for (const char *tile : {"fifo.las", "gone.las"}) {
        const RunResult alone = runMorvane({"dem.flt", std::string("tiles/") + tile, "alone.las", "2", "30"},
                                           dir.path());
        EXPECT_EQ(alone.status, 255);
        EXPECT_EQ(maskTiming(readFile(dir / ("out/tiles/" + std::string(tile) + ".log"))),
                  maskTiming(replaceAll(alone.out, "alone.las", "out/tiles/" + std::string(tile))));
    }
}

TEST(BatchRerun, RunsOnlyWhatIsNotDoneFromTheSameInputs)
{
    TempDir dir;
    writeFlatDem(dir);
    writeTile(dir, "tiles/a.las", keptTile());
    writeTile(dir, "tiles/b/b.las", tileBytes(2000, 5000, 1500));
    writeTile(dir, "tiles/none.las", tileBytes(3000, 3000, 900));
    writeTile(dir, "tiles/late.las", "not yet a LAS file");
    struct Step {
        const char *what;
        void (*change)(const TempDir &);
        std::string high;
        std::string counts;
        int status;
    };
    const std::vector<Step> steps = {
        {"first run", [](const TempDir &) {}, "30",
         "4 tiles: 2 kept, 1 none, 1 failed, 0 killed, 0 skipped as already done", 1},
        {"again", [](const TempDir &) {}, "30",
         "4 tiles: 0 kept, 0 none, 1 failed, 0 killed, 3 skipped as already done", 1},
        {"failed tile mended", [](const TempDir &d) { writeFile(d / "tiles/late.las", keptTile()); }, "30",
         "4 tiles: 1 kept, 0 none, 0 failed, 0 killed, 3 skipped as already done", 0},
        {"tile rewritten", [](const TempDir &d) { writeFile(d / "tiles/b/b.las", keptTile()); }, "30",
         "4 tiles: 1 kept, 0 none, 0 failed, 0 killed, 3 skipped as already done", 0},
        {"tile added", [](const TempDir &d) { writeTile(d, "tiles/0/new.LAS", keptTile()); }, "30",
         "5 tiles: 1 kept, 0 none, 0 failed, 0 killed, 4 skipped as already done", 0},
        {"output removed", [](const TempDir &d) { fs::remove(d / "out/a.las"); }, "30",
         "5 tiles: 1 kept, 0 none, 0 failed, 0 killed, 4 skipped as already done", 0},
        {"another limit", [](const TempDir &) {}, "31",
         "5 tiles: 4 kept, 1 none, 0 failed, 0 killed, 0 skipped as already done", 0},
        {"the same limit written otherwise", [](const TempDir &) {}, "31.00",
         "5 tiles: 0 kept, 0 none, 0 failed, 0 killed, 5 skipped as already done", 0},
        {"raster rewritten", [](const TempDir &d) { writeFile(d / "dem.hdr", readFile(d / "dem.hdr") + "\n"); }, "31",
         "5 tiles: 4 kept, 1 none, 0 failed, 0 killed, 0 skipped as already done", 0},
        {"--force", [](const TempDir &) {}, "--force",
         "5 tiles: 4 kept, 1 none, 0 failed, 0 killed, 0 skipped as already done", 0},
    };
    for (const Step &s : steps) {
        SCOPED_TRACE(s.what);
        s.change(dir);
        const bool force = s.high == "--force";
        std::vector<std::string> args = {"dem.flt", "tiles", "out", "2", force ? "31" : s.high};
        if (force)
            args.insert(args.begin(), "--force");
        const RunResult r = runBatch(dir, args);
        EXPECT_EQ(r.status, s.status) << r.err;
        EXPECT_EQ(counts(r), s.counts);
        EXPECT_EQ(summaryRows(dir).size(), 5u - (s.counts[0] == '4'));
    }
}

// morvane-batch started in dir, not waited for.
std::unique_ptr<ChildRun> startBatch(const TempDir &dir, const std::vector<std::string> &args)
{
    RunOptions options;
    options.cwd = dir.path();
    options.timeLimit = std::chrono::seconds(60);
    return std::make_unique<ChildRun>(MORVANE_BATCH_EXE, args, options);
}

// Three machines sharing one output folder, each taking its share.
TEST(BatchShares, ThreeSharesAtOnceRunEveryTileOnce)
{
    TempDir dir;
    writeFlatDem(dir);
    std::set<std::string> tiles;
    for (int i = 0; i < 15; ++i) {
        const std::string rel = "f" + std::to_string(i % 4) + "/tile " + std::to_string(i) + ".las";
        writeTile(dir, "tiles/" + rel, i % 5 == 4 ? "not a LAS file" : keptTile());
        tiles.insert(rel);
    }
    std::vector<std::unique_ptr<ChildRun>> shares;
    for (const char *share : {"1/3", "2/3", "3/3"})
        shares.push_back(startBatch(dir, {"--shard", share, "-j", "2", "dem.flt", "tiles", "out", "2", "30"}));
    size_t ran = 0, failed = 0;
    for (size_t k = 0; k < shares.size(); ++k) {
        const RunResult share = shares[k]->finish();
        const int status = share.status;
        const std::string console = share.out + share.err;
        std::smatch closing;
        ASSERT_TRUE(
            std::regex_search(console, closing, std::regex("([0-9]+) tiles: [0-9]+ kept, 0 none, ([0-9]+) failed")))
            << console;
        ran += std::stoul(closing[1]);
        failed += std::stoul(closing[2]);
        EXPECT_EQ(status, closing[2] == "0" ? 0 : 1) << console;
    }
    EXPECT_EQ(ran, 15u) << "the shares' tiles add up to all tiles";
    EXPECT_EQ(failed, 3u);
    const RunResult summary = runBatch(dir, {"--summary", "out"});
    EXPECT_EQ(summary.status, 1);
    EXPECT_EQ(summary.out, "15 tiles: 12 kept, 0 none, 3 failed, 0 killed; 600 of 600 points kept\n");
    std::set<std::string> summed;
    for (const auto &[tile, row] : summaryRows(dir))
        summed.insert(tile);
    EXPECT_EQ(summed, tiles);
    EXPECT_EQ(leftovers(dir), std::vector<std::string>{});
}

// Interrupted by each signal that ends a batch: the tiles running get it and
// are waited for, none starts, finished tiles keep their records, and the
// same command resumes. A tile the signal reaches leaves no output, or the
// whole one when the signal came after Morvane's rename.
TEST(BatchInterruption, StopsCleanlyAndTheSameCommandResumes)
{
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(sig);
        TempDir dir;
        writeFlatDem(dir);
        for (int i = 0; i < 6; ++i)
            writeTile(dir, "tiles/t" + std::to_string(i) + ".las", keptTile());
        const std::vector<std::string> args = {
            "--morvane", writeWrapper(dir, "sleep 0.1\n"), "-j", "2", "dem.flt", "tiles", "out", "2", "30"};
        const std::unique_ptr<ChildRun> batch = startBatch(dir, args);
        for (int wait = 0; wait < 500 && !fileExists(dir / "out/t0.las.record"); ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        batch->signal(sig);
        const RunResult stopped = batch->finish();
        EXPECT_EQ(stopped.status, 128 + sig);
        const std::string console = stopped.out + stopped.err;
        EXPECT_NE(console.find(std::string("morvane-batch: interrupted by SIG") + sigabbrev_np(sig) +
                               "; the same command resumes the batch\n"),
                  std::string::npos)
            << console;
        EXPECT_EQ(leftovers(dir), std::vector<std::string>{});
        ASSERT_EQ(runMorvane({"dem.flt", "tiles/t0.las", "whole.las", "2", "30"}, dir.path()).status, 0);
        const std::string whole = readFile(dir / "whole.las");
        size_t kept = 0;
        for (const auto &[tile, row] : summaryRows(dir)) {
            kept += row.starts_with("kept,");
            const std::string out = dir / ("out/" + tile);
            if (row.starts_with("kept,") || fileExists(out)) {
                EXPECT_TRUE(readFile(out) == whole) << tile << " " << row;
            }
        }
        EXPECT_GE(kept, 1u);
        EXPECT_LT(kept, 6u) << console;

        const RunResult resumed = runBatch(dir, args);
        EXPECT_EQ(resumed.status, 0) << resumed.err;
        EXPECT_EQ(counts(resumed), "6 tiles: " + std::to_string(6 - kept) + " kept, 0 none, 0 failed, 0 killed, " +
                                       std::to_string(kept) + " skipped as already done");
        for (int i = 0; i < 6; ++i)
            EXPECT_TRUE(readFile(dir / ("out/t" + std::to_string(i) + ".las")) == whole) << i;
    }
}

TEST(BatchCommandLine, RefusesWhatCannotRunBeforeAnyTileRuns)
{
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out, err;  // the start of each
    };
    const std::string usage = "Usage: morvane-batch [OPTIONS] RASTER TILES OUTDIR MIN MAX\n";
    const std::vector<Case> cases = {
        {{"--help"}, 0, usage + "       morvane-batch --summary OUTDIR\n", ""},
        {{"--version"}, 0, "morvane-batch 1.0.0\n", ""},
        {{"-q", "dem.flt", "tiles", "out", "-1.5", "30"}, 0, "", ""},
        {{"-j1", "--jobs=2", "--shard=1/1", "dem.flt", "list.txt", "out", "2", "30"}, 0, "2 tiles: 2 kept", ""},
        {{}, 2, "", "morvane-batch: missing arguments: RASTER TILES OUTDIR MIN MAX\n" + usage},
        {{"dem.flt", "tiles", "out", "2", "30", "40"}, 2, "", "morvane-batch: too many arguments"},
        {{"--fast", "dem.flt", "tiles", "out", "2", "30"}, 2, "", "morvane-batch: unknown option --fast\n" + usage},
        {{"-j", "0", "dem.flt", "tiles", "out", "2", "30"}, 2, "", "morvane-batch: -j needs a number"},
        {{"--shard", "4/3", "dem.flt", "tiles", "out", "2", "30"}, 2, "", "morvane-batch: --shard needs K/N"},
        {{"--shard", "0/3", "dem.flt", "tiles", "out", "2", "30"}, 2, "", "morvane-batch: --shard needs K/N"},
        {{"--shard", "1", "dem.flt", "tiles", "out", "2", "30"}, 2, "", "morvane-batch: --shard needs K/N"},
        {{"dem.flt", "tiles", "out", "", "30"}, 2, "", "morvane-batch: MIN is empty\n" + usage},
        {{"dem.flt", "tiles", "out", "2", "3O"}, 2, "", "morvane-batch: invalid MAX (3O)\n"},
        {{"dem.flt", "tiles", "out", "2", "2.0"}, 2, "", "morvane-batch: MAX (2.0) must be greater than MIN (2)\n"},
#ifdef MORVANE_WITH_GDAL
        {{"dem.tif", "tiles", "out", "2", "30"},
         2,
         "",
         "morvane-batch: cannot read raster dem.tif: No such file or directory\n"},
#else
        {{"dem.tif", "tiles", "out", "2", "30"},
         2,
         "",
         "morvane-batch: this morvane-batch was built without GDAL and reads .asc and .flt rasters only; convert "
         "dem.tif "
         "first: gdal_translate -of EHdr -ot Float32 dem.tif dem.flt\n" +
             usage},
#endif
        {{"gone.flt", "tiles", "out", "2", "30"},
         2,
         "",
         "morvane-batch: cannot read raster gone.flt: No such file or directory\n"},
        {{"dem.flt", "none", "out", "2", "30"}, 2, "", "morvane-batch: cannot read none: No such file or directory\n"},
        {{"dem.flt", "empty", "out", "2", "30"}, 2, "", "morvane-batch: no tile (a name ending in .las) in empty\n"},
        {{"dem.flt", "-", "out", "2", "30"}, 2, "", "morvane-batch: no tile (a name ending in .las) in -\n"},
        {{"dem.flt", "tiles", "dem.hdr/out", "2", "30"},
         2,
         "",
         "morvane-batch: cannot make OUTDIR dem.hdr/out: Not a directory\n"},
        {{"--morvane", "/nonexistent/Morvane", "dem.flt", "tiles", "out", "2", "30"},
         2,
         "",
         "morvane-batch: cannot run Morvane at /nonexistent/Morvane"},
        {{"--summary", "none"}, 2, "", "morvane-batch: cannot read OUTDIR none: No such file or directory\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args.empty() ? "(none)" : c.args[0] + " " + (c.args.size() > 1 ? c.args[1] : ""));
        TempDir dir;
        writeFlatDem(dir);
        writeTile(dir, "tiles/a.las", keptTile());
        writeTile(dir, "tiles/b.las", keptTile());
        fs::create_directory(dir / "empty");
        writeFile(dir / "list.txt", "tiles/a.las\n./tiles/b.las\n");
        const RunResult r = runBatch(dir, c.args);
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        EXPECT_EQ(r.out.substr(0, c.out.size()), c.out);
        EXPECT_EQ(r.err.substr(0, c.err.size()), c.err);
        if (c.status == 2) {
            EXPECT_FALSE(fileExists(dir / "out")) << "nothing is run or made";
        }
    }
}

}  // namespace
