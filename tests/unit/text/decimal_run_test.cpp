// Runs of short decimals: where a run stops and what it reads, for the
// vector form and the one-at-a-time form alike; then the two against each
// other on every short token of up to five digits and on random text.
#include "text/decimal_run.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

using namespace morvane;

namespace {

using RunParser = DecimalRun (*)(const char *, size_t, size_t, float *, size_t);

struct Parsed {
    DecimalRun run;
    std::vector<float> values;
};

// The text padded as the run needs it; `end` counts from the text's start.
Parsed parse(RunParser parser, const std::string &text, size_t pos, size_t end, size_t count)
{
    std::string padded = text.substr(0, end);
    padded.append(kDecimalRunPadding, ' ');
    std::vector<float> out(count + 1, -1.0f);
    const DecimalRun run = parser(padded.data(), pos, end, out.data(), count);
    EXPECT_EQ(out[count], -1.0f) << "wrote past count";
    out.resize(run.values);
    return {run, out};
}

std::vector<uint32_t> bitsOf(const std::vector<float> &values)
{
    std::vector<uint32_t> bits;
    for (const float v : values)
        bits.push_back(std::bit_cast<uint32_t>(v));
    return bits;
}

const RunParser kParsers[] = {parseDecimalRun, parseDecimalRunPortable};

TEST(DecimalRun, WhereARunStops)
{
    const std::string longSpaces = " " + std::string(140, ' ') + "\v\f2.5 ";
    const std::string longToken = "1 " + std::string(70, '7') + " 2";
    const struct {
        const char *label;
        std::string text;
        size_t count;
        std::vector<float> values;
        size_t stop;     // where the last value read ends
        size_t end = 0;  // the text's end if not the whole text
    } cases[] = {
        {"survey elevations", "1523.25 -0.5\t4207.125\r\n-9999 0 ", 99, {1523.25f, -0.5f, 4207.125f, -9999, 0}, 30},
        {"at most count", "1 2 3 4 5 6 ", 5, {1, 2, 3, 4, 5}, 9},
        {"none wanted", "1 2 ", 0, {}, 0},
        {"a token that reaches the end may go on", "1 2 3", 99, {1, 2}, 3},
        {"the end cuts a token", "1 2 345 ", 99, {1, 2}, 3, 6},
        {"seven digits", "1234567 0.000001 123.4567 ", 99, {1234567, 0.000001f, 123.4567f}, 25},
        {"eight digits stop it", "1 12345678 2 ", 99, {1}, 1},
        {"a decimal comma", "0,5 -12,25 ", 99, {0.5f, -12.25f}, 10},
        {"a separator first or last", "1 .5 ", 99, {1}, 1},
        {"a separator last", "1 5. ", 99, {1}, 1},
        {"two separators", "1 1.2.3 ", 99, {1}, 1},
        {"a point and a comma", "1 1.2,3 ", 99, {1}, 1},
        {"a sign alone", "1 - ", 99, {1}, 1},
        {"two signs", "1 --1 ", 99, {1}, 1},
        {"a plus sign", "1 +1 ", 99, {1}, 1},
        {"an exponent", "1 1e3 ", 99, {1}, 1},
        {"a control byte inside", std::string("1 2\0003 ", 7), 99, {1}, 1},
        {"negative zero", "-0.0 -0 ", 99, {-0.0f, -0.0f}, 7},
        {"spaces over three blocks", longSpaces, 99, {2.5f}, longSpaces.size() - 1},
        {"a token over 64 bytes", longToken, 99, {1}, 1},
        {"nothing but spaces", "   \n ", 99, {}, 0},
    };
    for (const auto &c : cases) {
        for (const RunParser parser : kParsers) {
            SCOPED_TRACE(std::string(c.label) + (parser == parseDecimalRun ? ", vector" : ", one at a time"));
            const Parsed p = parse(parser, c.text, 0, c.end != 0 ? c.end : c.text.size(), c.count);
            EXPECT_EQ(bitsOf(p.values), bitsOf(c.values));
            EXPECT_EQ(p.run.end, c.stop);
        }
    }
}

// Every token of one to five digits, with the separator in every place and
// either sign, then a sample of six- and seven-digit ones: the vector form
// reads what the one-at-a-time form reads, bit for bit, in one run.
TEST(DecimalRun, VectorFormReadsEveryShortToken)
{
    std::string text;
    size_t tokens = 0;
    const auto add = [&](const std::string &digits) {
        for (size_t dot = 0; dot < digits.size(); ++dot) {
            for (const char *sign : {"", "-"}) {
                text += sign;
                text += digits.substr(0, dot == 0 ? digits.size() : dot);
                if (dot != 0)
                    text += (tokens % 7 == 0 ? ',' : '.') + digits.substr(dot);
                text += " \n\t"[tokens % 3];
                ++tokens;
            }
        }
    };
    for (uint32_t len = 1, count = 10; len <= 5; ++len, count *= 10) {
        for (uint32_t v = 0; v < count; ++v) {
            std::string digits(len, '0');
            for (uint32_t k = 0, rest = v; k < len; ++k, rest /= 10)
                digits[len - 1 - k] = static_cast<char>('0' + rest % 10);
            add(digits);
        }
    }
    std::mt19937 rng(11);
    for (size_t i = 0; i < 100000; ++i) {
        std::string digits(6 + i % 2, '0');
        for (char &d : digits)
            d = static_cast<char>('0' + rng() % 10);
        add(digits);
    }
    const Parsed vector = parse(parseDecimalRun, text, 0, text.size(), tokens);
    const Parsed portable = parse(parseDecimalRunPortable, text, 0, text.size(), tokens);
    ASSERT_EQ(portable.run.values, tokens);
    ASSERT_EQ(vector.run.values, tokens);
    EXPECT_EQ(vector.run.end, portable.run.end);
    EXPECT_EQ(bitsOf(vector.values), bitsOf(portable.values));
}

// Random text of number-like tokens, spaces and stray bytes, read in runs
// from every stopping point with random counts and ends: both forms stop
// at the same token and read the same values.
TEST(DecimalRun, VectorFormMatchesOnRandomText)
{
    std::mt19937_64 rng(42);
    const std::string alphabet = std::string("0123456789.,-+e \n\t\r\v\fx") + '\0';
    for (int iter = 0; iter < 6000; ++iter) {
        std::string text;
        const int pieces = static_cast<int>(rng() % 200);
        const bool soup = rng() % 3 == 0;
        for (int i = 0; i < pieces; ++i) {
            if (soup) {
                text += alphabet[rng() % alphabet.size()];
                continue;
            }
            if (rng() % 4 == 0)
                text += '-';
            const int digits = static_cast<int>(rng() % 10);
            const int dot = static_cast<int>(rng() % static_cast<uint64_t>(digits + 2)) - 1;
            for (int d = 0; d < digits; ++d) {
                if (d == dot && d != 0)
                    text += rng() % 5 != 0 ? '.' : ',';
                text += static_cast<char>('0' + rng() % 10);
            }
            if (rng() % 60 == 0)
                text += std::string(rng() % 140, '7');
            text.append(1 + rng() % (rng() % 2 != 0 ? 2 : 70), " \n\t\r"[rng() % 4]);
        }
        size_t pos = 0;
        while (pos < text.size()) {
            const size_t end = text.size() - (rng() % 4 == 0 ? rng() % (text.size() - pos + 1) : 0);
            const size_t count = rng() % 2 != 0 ? 1000 : rng() % 9;
            const Parsed vector = parse(parseDecimalRun, text, pos, end, count);
            const Parsed portable = parse(parseDecimalRunPortable, text, pos, end, count);
            ASSERT_EQ(vector.run.values, portable.run.values) << "text " << iter << " from " << pos;
            ASSERT_EQ(vector.run.lastBegin, portable.run.lastBegin) << "text " << iter << " from " << pos;
            ASSERT_EQ(vector.run.end, portable.run.end) << "text " << iter << " from " << pos;
            ASSERT_EQ(bitsOf(vector.values), bitsOf(portable.values)) << "text " << iter << " from " << pos;
            // On past the token that stopped the run, as the grid reader goes.
            size_t next = portable.run.end;
            while (next < text.size() && std::string_view(" \n\t\r\v\f").find(text[next]) != std::string_view::npos)
                ++next;
            while (next < text.size() && std::string_view(" \n\t\r\v\f").find(text[next]) == std::string_view::npos)
                ++next;
            pos = std::max(next, pos + 1);
        }
    }
}

}  // namespace
