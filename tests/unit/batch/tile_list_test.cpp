// Tile discovery, the list form, output names and the share function.
#include "tile_list.h"

#include "test_files.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <set>

using namespace test_support;
using batch::Tile;

namespace {

std::vector<std::string> rels(const batch::TileList &list)
{
    std::vector<std::string> out;
    for (const Tile &t : list.tiles)
        out.push_back(t.rel + " -> " + t.output);
    return out;
}

std::string touch(const TempDir &dir, const std::string &rel)
{
    const std::string path = dir / rel;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    writeFile(path, "x");
    return path;
}

TEST(TileDiscovery, FindsLasFilesInAnyCaseSortedByTheirPath)
{
    TempDir dir;
    for (const char *rel : {"b/t.las", "a/t.las", "a/T.LAS.las", "Z.Las", "a b/q'x\".las", "n\nl.las", "\xff\xfe.las",
                            ".hidden/h.las", "notes.txt", "a/t.las.log", "las", "x.las.bak"})
        touch(dir, "tiles/" + std::string(rel));
    ::mkfifo((dir / "tiles/fifo.las").c_str(), 0600);                           // not a regular file
    ::symlink("../a/t.las", (dir / "tiles/b/linked.las").c_str());              // a link to a file is a tile
    ::symlink("missing.las", (dir / "tiles/dangling.las").c_str());             // a dangling link is not
    ::symlink((dir / "tiles/a").c_str(), (dir / "tiles/folder-link").c_str());  // links to folders are not followed
    std::filesystem::create_directories(dir / "tiles/out/x");
    touch(dir, "tiles/out/x/old.las");  // the output folder, inside the tiles

    struct stat out {};
    ASSERT_EQ(::stat((dir / "tiles/out").c_str(), &out), 0);
    const batch::TileList list = batch::findTiles(dir / "tiles", batch::FolderId{out.st_dev, out.st_ino});
    ASSERT_EQ(list.error, "");
    EXPECT_EQ(rels(list), (std::vector<std::string>{
                              ".hidden/h.las -> .hidden/h.las", "Z.Las -> Z.las", "a b/q'x\".las -> a b/q'x\".las",
                              "a/T.LAS.las -> a/T.LAS.las", "a/t.las -> a/t.las", "b/linked.las -> b/linked.las",
                              "b/t.las -> b/t.las", "n\nl.las -> n\nl.las", "\xff\xfe.las -> \xff\xfe.las"}));
    EXPECT_EQ(list.tiles[1].path, dir / "tiles/Z.Las");
    EXPECT_EQ(batch::findTiles(dir / "tiles/", std::nullopt).tiles.size(), 10u)
        << "the output folder counts when not skipped";
}

TEST(TileDiscovery, RefusesWhatWouldLoseATile)
{
    struct Case {
        std::vector<std::string> files;
        std::string error;  // the start of it
    };
    const std::vector<Case> cases = {
        {{"a/t.las", "a/t.LAS"}, "tiles a/t.LAS and a/t.las would both write a/t.las"},
        {{"x.Las", "x.lAS"}, "tiles x.Las and x.lAS would both write x.las"},
        {{"a/t.las", "b/t.las", "A/t.las"}, ""},
    };
    for (const Case &c : cases) {
        TempDir dir;
        for (const std::string &f : c.files)
            touch(dir, "tiles/" + f);
        const batch::TileList list = batch::findTiles(dir / "tiles", std::nullopt);
        EXPECT_EQ(list.error.substr(0, c.error.size()), c.error) << c.files[0];
        EXPECT_EQ(list.tiles.empty(), !c.error.empty());
    }
    TempDir dir;
    EXPECT_NE(batch::findTiles(dir / "absent", std::nullopt).error.find("No such file"), std::string::npos);
    touch(dir, "tiles/locked/t.las");
    ::chmod((dir / "tiles/locked").c_str(), 0);
    if (::geteuid() != 0) {
        EXPECT_NE(batch::findTiles(dir / "tiles", std::nullopt).error.find("cannot read folder"), std::string::npos);
    }
    ::chmod((dir / "tiles/locked").c_str(), 0700);
}

TEST(TileList, EachLineIsATileKeyedByItsPath)
{
    struct Case {
        std::string text;
        std::vector<std::string> rels;
        std::string error;
    };
    const std::vector<Case> cases = {
        {"b.las\na/t.LAS\n\n./c.las\n", {"a/t.LAS -> a/t.las", "b.las -> b.las", "c.las -> c.las"}, ""},
        {"/data/x/t.las\nx//y/./t.las", {"data/x/t.las -> data/x/t.las", "x/y/t.las -> x/y/t.las"}, ""},
        {"a b.las\na b.las\n", {"a b.las -> a b.las"}, ""},  // listed twice, run once
        {"t.las\n../up.las\n", {}, "line 2 of the tile list (../up.las) climbs above its folder with .."},
        {"t.las\r\n", {}, "line 1 of the tile list (t.las\r) does not end in .las"},
        {"t.las\nt.LAS\n", {}, "tiles t.LAS and t.las would both write t.las; rename one"},
    };
    for (const Case &c : cases) {
        const batch::TileList list = batch::parseTileList(c.text);
        EXPECT_EQ(list.error, c.error) << c.text;
        EXPECT_EQ(rels(list), c.rels) << c.text;
    }
    EXPECT_EQ(batch::parseTileList("./a/t.LAS\n").tiles[0].path, "./a/t.LAS");
}

TEST(TileShare, IsFnv1aOfThePathAndSplitsTheTilesOnce)
{
    // The published FNV-1a 64 values: a machine computing another value would
    // run other tiles than its peers.
    EXPECT_EQ(batch::fnv1a64(""), 0xcbf29ce484222325ull);
    EXPECT_EQ(batch::fnv1a64("a"), 0xaf63dc4c8601ec8cull);
    EXPECT_EQ(batch::fnv1a64("foobar"), 0x85944171f73967e8ull);
    EXPECT_EQ(batch::fnv1a64("\xff"), 0xaf64724c8602eb6eull);

    std::vector<std::string> names;
    for (int i = 0; i < 300; ++i)
        names.push_back("flight" + std::to_string(i % 7) + "/tile_" + std::to_string(i) + ".las");
    for (const uint32_t n : {1u, 2u, 3u, 8u}) {
        std::vector<size_t> sizes(n);
        for (const std::string &name : names) {
            size_t shares = 0;
            for (uint32_t k = 0; k < n; ++k)
                if (batch::inShare(name, k, n)) {
                    ++shares;
                    ++sizes[k];
                }
            ASSERT_EQ(shares, 1u) << name << " in " << n << " shares";
        }
        for (const size_t size : sizes)
            EXPECT_GT(size, 300 / n / 2) << "shares of " << n << " are far from even";
    }
}

}  // namespace
