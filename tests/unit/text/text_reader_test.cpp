// The token reader with a window far smaller than the text: tokens that
// straddle refills, runs of spaces longer than the window, a token that
// does not fit, a grid's values read in runs, the offset the header parse
// hands on, unget, and the rest of a line skipped.
#include "lidar/internal/file_handle.h"
#include "test_files.h"
#include "text/numeric_text.h"
#include "text/text_reader.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

using namespace morvane;

using namespace test_support;

namespace {

struct Read {
    std::vector<std::string> tokens;
    bool tooLong = false;
};

Read readAll(const std::string &text, size_t window)
{
    TempDir dir;
    writeFile(dir / "t.txt", text);
    lidar::FilePtr f = lidar::open_file((dir / "t.txt").c_str(), "r");
    TextReader reader(f.get(), window);
    Read r;
    for (std::string_view t = reader.next(); !t.empty(); t = reader.next())
        r.tokens.emplace_back(t);
    r.tooLong = reader.tooLong();
    return r;
}

// As a grid's values are read: runs of short decimals, up to atOnce at a
// time, each stopped token then read alone and parsed in any form.
std::vector<float> readValues(const std::string &text, size_t window, size_t atOnce)
{
    TempDir dir;
    writeFile(dir / "t.txt", text);
    lidar::FilePtr f = lidar::open_file((dir / "t.txt").c_str(), "r");
    TextReader reader(f.get(), window);
    std::vector<float> values;
    std::vector<float> run(atOnce);
    for (;;) {
        const size_t parsed = reader.nextDecimals(run.data(), atOnce);
        values.insert(values.end(), run.begin(), run.begin() + static_cast<std::ptrdiff_t>(parsed));
        if (parsed == atOnce)
            continue;
        const std::string_view t = reader.next();
        if (t.empty())
            break;
        float value = 0.0f;
        EXPECT_TRUE(parseFloatToken(t, value)) << t;
        values.push_back(value);
    }
    return values;
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
        SCOPED_TRACE(c.label);
        const Read r = readAll(c.text, c.window);
        EXPECT_EQ(r.tokens, c.tokens);
        EXPECT_EQ(r.tooLong, c.tooLong);
    }
}

// A grid's values read in runs of every length, across refills of windows
// smaller than a row: the same values as token by token, whichever form
// stops a run and wherever the window ends.
TEST(TextReader, GridValuesAcrossRefills)
{
    const std::string blocks = [] {  // past several 64-byte blocks, a token on each boundary
        std::string t;
        for (int k = 0; k < 40; ++k)
            t += (k % 3 == 0 ? "1523.25 " : k % 3 == 1 ? "-0.5\t" : "4207.125\r\n");
        return t;
    }();
    std::vector<float> blockValues;
    for (int k = 0; k < 40; ++k)
        blockValues.push_back(k % 3 == 0 ? 1523.25f : k % 3 == 1 ? -0.5f : 4207.125f);
    const struct {
        const char *label;
        std::string text;
        size_t window;
        std::vector<float> values;
    } cases[] = {
        {"tokens straddling every refill", "12.5 -3 4000000.25\n7\t8\r\n9", 11, {12.5f, -3.0f, 4000000.25f, 7, 8, 9}},
        {"spaces longer than the window", "1" + std::string(150, ' ') + "2   \n\n", 8, {1, 2}},
        {"other forms between short ones",
         "1e3 2.5 inf 0,75 -9999 123.4567 0.000001 7",
         16,
         {1000, 2.5f, std::numeric_limits<float>::infinity(), 0.75f, -9999, 123.4567f, 0.000001f, 7}},
        {"values over many blocks, small window", blocks, 20, blockValues},
        {"values over many blocks, window enough", blocks, 4096, blockValues},
        {"no final space", "1.5 2.5", 64, {1.5f, 2.5f}},
    };
    for (const auto &c : cases) {
        for (const size_t atOnce : {size_t{1}, size_t{2}, size_t{3}, size_t{5}, size_t{256}}) {
            SCOPED_TRACE(std::string(c.label) + ", " + std::to_string(atOnce) + " at once");
            EXPECT_EQ(readValues(c.text, c.window, atOnce), c.values);
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
    float run[4];
    EXPECT_EQ(reader.nextDecimals(run, 4), 0u);  // the token handed back comes first, from next()
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
