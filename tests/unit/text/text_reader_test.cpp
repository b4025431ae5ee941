// The token reader with a window far smaller than the text: tokens that
// straddle refills, runs of spaces longer than the window, a token that
// does not fit, the offset the header parse hands on, unget, and the rest
// of a line skipped.
#include "lidar/internal/file_handle.h"
#include "test_files.h"
#include "text/text_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

using namespace morvane;

using namespace test_support;

namespace {

struct Read {
    std::vector<std::string> tokens;
    bool tooLong = false;
};

// Token by token (atOnce 0), or as a grid's values are read: as many as
// the window holds, up to atOnce, then one by one at the window's end.
Read readAll(const std::string &text, size_t window, size_t atOnce = 0)
{
    TempDir dir;
    writeFile(dir / "t.txt", text);
    lidar::FilePtr f = lidar::open_file((dir / "t.txt").c_str(), "r");
    TextReader reader(f.get(), window);
    Read r;
    std::vector<std::string_view> batch(atOnce);
    for (;;) {
        const size_t found = atOnce == 0 ? 0 : reader.nextInWindow(batch.data(), atOnce);
        if (found == 0) {
            const std::string_view t = reader.next();
            if (t.empty())
                break;
            r.tokens.emplace_back(t);
        }
        for (size_t k = 0; k < found; ++k)
            r.tokens.emplace_back(batch[k]);
    }
    r.tooLong = reader.tooLong();
    return r;
}

TEST(TextReader, SmallWindows)
{
    const struct {
        const char *label;
        std::string text;
        size_t window;
        std::vector<std::string> tokens;
        bool tooLong;
    } cases[] = {
        {"tokens straddling every refill",
         "12.5 -3 4000000.25\n7\t8\r\n9",
         11,
         {"12.5", "-3", "4000000.25", "7", "8", "9"},
         false},
        {"a run of spaces longer than the window", "1" + std::string(50, ' ') + "2   \n\n", 8, {"1", "2"}, false},
        {"a token exactly the window", "abcdefgh x", 8, {}, true},
        {"a token longer than the window, after others", "1 2 " + std::string(30, '7') + " 3", 16, {"1", "2"}, true},
        {"no final space", "4500000.125", 8, {}, true},
        {"no final space, window enough", "4500000.125", 64, {"4500000.125"}, false},
        {"control bytes inside a token", std::string("1\0002 3", 5), 4, {std::string("1\0002", 3), "3"}, false},
        {"empty", "", 8, {}, false},
    };
    for (const auto &c : cases) {
        for (const size_t atOnce : {size_t{0}, size_t{1}, size_t{2}, size_t{256}}) {
            SCOPED_TRACE(std::string(c.label) + ", " + std::to_string(atOnce) + " at once");
            const Read r = readAll(c.text, c.window, atOnce);
            EXPECT_EQ(r.tokens, c.tokens);
            EXPECT_EQ(r.tooLong, c.tooLong);
        }
    }
}

// Where a token begins, counted across refills, and a token handed back.
TEST(TextReader, OffsetsAndUnget)
{
    const std::string text = "ncols 4\nnrows   2\n  12.5 13";
    TempDir dir;
    writeFile(dir / "t.txt", text);
    lidar::FilePtr f = lidar::open_file((dir / "t.txt").c_str(), "r");
    TextReader reader(f.get(), 6);
    for (const char *expected : {"ncols", "4", "nrows", "2", "12.5"}) {
        const std::string_view t = reader.next();
        ASSERT_EQ(t, expected);
        EXPECT_EQ(reader.lastTokenOffset(), text.find(std::string(expected) + (t == "4" ? "\n" : "")));
    }
    reader.unget();
    EXPECT_EQ(reader.lastTokenOffset(), text.find("12.5"));
    std::string_view batch[4];
    EXPECT_EQ(reader.nextInWindow(batch, 4), 0u);  // the token handed back comes first, from next()
    EXPECT_EQ(reader.next(), "12.5");
    EXPECT_EQ(reader.next(), "13");
    EXPECT_EQ(reader.next(), "");
    EXPECT_EQ(reader.lastTokenOffset(), text.size());
}

// Each line's first token is kept and the rest of its line skipped, across
// refills of a window smaller than a line.
TEST(TextReader, SkipLine)
{
    const struct {
        const char *label;
        std::string text;
        size_t window;
        std::vector<std::string> firsts;
    } cases[] = {
        {"short lines", "a 1 2\nb 3\nc\nd 4 5 6\n", 64, {"a", "b", "c", "d"}},
        {"lines longer than the window",
         "a " + std::string(40, 'x') + " y\nb " + std::string(30, ' ') + "z\nc\n",
         8,
         {"a", "b", "c"}},
        {"CR and CRLF line ends", "a 1\rb 2\r\nc 3\r\n", 4, {"a", "b", "c"}},
        {"blank lines between", "a 1\n\n\n   \nb 2", 8, {"a", "b"}},
        {"last line without a line end", "a 1\nb 2 3 4 5 6 7 8 9", 4, {"a", "b"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        writeFile(dir / "t.txt", c.text);
        lidar::FilePtr f = lidar::open_file((dir / "t.txt").c_str(), "r");
        TextReader reader(f.get(), c.window);
        std::vector<std::string> firsts;
        for (std::string_view t = reader.next(); !t.empty(); t = reader.next()) {
            firsts.emplace_back(t);
            reader.skipLine();
        }
        EXPECT_EQ(firsts, c.firsts);
        EXPECT_FALSE(reader.tooLong());
    }
}

}  // namespace
