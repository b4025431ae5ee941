// The record of a finished tile: written and read back exactly, refused when
// damaged, and the rule by which a tile is done.
#include "record.h"

#include <gtest/gtest.h>

using batch::Record;
using batch::RunInputs;
using batch::TileStatus;

namespace {

Record sample(const std::string &tile)
{
    Record r;
    r.tile = tile;
    r.inputs = {"1.0.0",
                "dems/dem 2024.flt",
                {800000, 1796845679565397348},
                {116, 1796845679565749766},
                batch::limitValue("-0.5"),
                batch::limitValue("30"),
                {560321, 1796845679582090223}};
    r.status = TileStatus::Kept;
    r.exitStatus = 0;
    r.tally = batch::Tally{4000000000u, 2, 3, 4};
    r.seconds = 1.25;
    return r;
}

TEST(Record, ReadsBackWhatItWrote)
{
    for (const std::string tile :
         {"a/t.las", "sp ace/q'x\".las", "new\nline.las", "100%.las", "\xff\xfe/\t.LAS", "c,d.las"}) {
        Record r = sample(tile);
        const std::string text = batch::formatRecord(r);
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 10) << "one line per field: " << text;
        EXPECT_EQ(batch::parseRecord(text), r) << text;
        r.tally.reset();
        r.status = TileStatus::Killed;
        r.exitStatus = 143;
        EXPECT_EQ(batch::parseRecord(batch::formatRecord(r)), r);
    }
}

TEST(Record, RefusesATextThatIsNotAWholeRecord)
{
    const std::string whole = batch::formatRecord(sample("t.las"));
    const auto replaced = [&](const std::string &from, const std::string &to) {
        std::string t = whole;
        return t.replace(t.find(from), from.size(), to);
    };
    const std::vector<std::string> damaged = {
        "",
        whole.substr(0, whole.size() - 1),             // cut short
        whole.substr(0, whole.find("\nseconds") + 1),  // a line missing
        replaced("morvane-batch record 1", "morvane-batch record 2"),
        replaced("status kept 0", "status done 0"),
        replaced("input 560321", "input 5603x1"),
        replaced("tile t.las", "tile t.las extra"),
        replaced("tile t.las", "tile t%4.las"),
        whole + "tile again.las\n",
    };
    for (const std::string &text : damaged)
        EXPECT_FALSE(batch::parseRecord(text)) << text;
}

TEST(Record, ATileIsDoneWhenItsRecordSaysFinishedFromTheSameInputs)
{
    const Record r = sample("t.las");
    struct Case {
        const char *what;
        void (*change)(Record &, RunInputs &);
        bool done;
    };
    const std::vector<Case> cases = {
        {"same", [](Record &, RunInputs &) {}, true},
        {"none kept", [](Record &rec, RunInputs &) { rec.status = TileStatus::None; }, true},
        {"failed", [](Record &rec, RunInputs &) { rec.status = TileStatus::Failed; }, false},
        {"killed", [](Record &rec, RunInputs &) { rec.status = TileStatus::Killed; }, false},
        {"another raster", [](Record &, RunInputs &in) { in.raster = "dem.asc"; }, false},
        {"raster rewritten", [](Record &, RunInputs &in) { ++in.rasterStamp.mtimeNs; }, false},
        {"header rewritten", [](Record &, RunInputs &in) { ++in.rasterHeaderStamp.size; }, false},
        {"another minimum", [](Record &, RunInputs &in) { in.low = batch::limitValue("-0.4"); }, false},
        {"the same maximum", [](Record &, RunInputs &in) { in.high = batch::limitValue("30.000"); }, true},
        {"tile grown", [](Record &, RunInputs &in) { ++in.tileStamp.size; }, false},
        {"tile touched", [](Record &, RunInputs &in) { --in.tileStamp.mtimeNs; }, false},
        {"tile gone", [](Record &rec, RunInputs &in) { in.tileStamp = rec.inputs.tileStamp = {}; }, false},
        {"another Morvane", [](Record &, RunInputs &in) { in.morvaneVersion = "1.1.0"; }, false},
    };
    for (const Case &c : cases) {
        Record rec = r;
        RunInputs now = r.inputs;
        c.change(rec, now);
        EXPECT_EQ(batch::finishedFrom(rec, now), c.done) << c.what;
    }
}

TEST(Record, StatusFollowsTheExitStatus)
{
    EXPECT_EQ(batch::statusOf(0, false), TileStatus::Kept);
    EXPECT_EQ(batch::statusOf(1, false), TileStatus::None);
    EXPECT_EQ(batch::statusOf(255, false), TileStatus::Failed);
    EXPECT_EQ(batch::statusOf(130, false), TileStatus::Failed);  // an exit status, not a signal
    EXPECT_EQ(batch::statusOf(137, true), TileStatus::Killed);
}

}  // namespace
