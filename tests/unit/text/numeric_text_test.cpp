// The grid values' fast decimal path against strtof, bit for bit: every
// token of up to six digits with the dot in every place and either sign,
// and a large sample of seven-digit ones; a decimal comma, read as the dot,
// in every token of up to five digits and a sixteenth of the longer ones;
// the forms the fast path hands to the general parser read the same.
#include "text/numeric_text.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <string_view>

using namespace morvane;

namespace {

// The token as the grid would spell it into `t`: sign, digits, the dot
// before digit `dot` (0: none). Returns where the dot is (0: none).
size_t spell(std::string &t, bool negative, const std::string &digits, size_t dot)
{
    t.clear();
    if (negative)
        t.push_back('-');
    const size_t head = dot == 0 ? digits.size() : dot;
    for (size_t k = 0; k < head; ++k)
        t.push_back(digits[k]);
    if (dot == 0)
        return 0;
    const size_t at = t.size();
    t.push_back('.');
    for (size_t k = dot; k < digits.size(); ++k)
        t.push_back(digits[k]);
    return at;
}

bool readsAs(const std::string &t, float expected)
{
    float fast = 0.0f;
    return parseFloatToken(t, fast) && std::bit_cast<uint32_t>(fast) == std::bit_cast<uint32_t>(expected);
}

// Every placement of the dot and sign for one run of digits, and where
// `withComma` the same with a decimal comma, which must read as the dot
// does; false at the first difference, which `fault` then names.
bool agreesWithStrtof(const std::string &digits, std::string &fault, bool withComma = true)
{
    std::string token;
    for (const bool negative : {false, true}) {
        for (size_t dot = 0; dot < digits.size(); ++dot) {
            const size_t at = spell(token, negative, digits, dot);
            const float expected = std::strtof(token.c_str(), nullptr);
            bool agree = readsAs(token, expected);
            if (agree && withComma && at != 0) {
                token[at] = ',';
                agree = readsAs(token, expected);
            }
            if (!agree) {
                fault = token;
                return false;
            }
        }
    }
    return true;
}

TEST(NumericText, ShortDecimalsAreStrtofsBitForBit)
{
    std::string fault;
    // Every digit string of one to six digits, leading zeros included.
    for (size_t len = 1; len <= 6; ++len) {
        uint32_t count = 1;
        for (size_t k = 0; k < len; ++k)
            count *= 10;
        std::string digits(len, '0');
        for (uint32_t v = 0; v < count; ++v) {
            for (size_t k = 0, rest = v; k < len; ++k, rest /= 10)
                digits[len - 1 - k] = static_cast<char>('0' + rest % 10);
            ASSERT_TRUE(agreesWithStrtof(digits, fault, len <= 5 || v % 16 == 0)) << fault;
        }
    }
    // Seven digits, the longest the fast path takes: a sample.
    std::mt19937 rng(7);
    std::string digits(7, '0');
    for (int i = 0; i < 300000; ++i) {
        for (char &d : digits)
            d = static_cast<char>('0' + rng() % 10);
        ASSERT_TRUE(agreesWithStrtof(digits, fault, i % 16 == 0)) << fault;
    }
}

TEST(NumericText, OtherFormsAndRefusals)
{
    // A decimal comma reads as strtof reads the token with a dot; `dotted`
    // is that token (nullptr: the token itself).
    const struct {
        const char *token;
        bool number;
        const char *dotted = nullptr;
    } cases[] = {
        {"12345678", true},
        {"1234567.8", true},
        {"0.00000001", true},
        {"+5", true},
        {"1e3", true},
        {"-2.5E-2", true},
        {"inf", true},
        {"-nan", true},
        {"0x1p3", true},
        {"3.4e39", true},
        {"1.", true},
        {".5", true},
        {"-.5", true},
        {"1,5", true, "1.5"},
        {"0,100000E+06", true, "0.100000E+06"},
        {",500E+02", true, ".500E+02"},
        {",000E+00", true, ".000E+00"},
        {"-,5", true, "-.5"},
        {"+2,5", true, "+2.5"},
        {"5,", true, "5."},
        {"4500000,125", true, "4500000.125"},
        {"0,00000001", true, "0.00000001"},
        {"3,4e39", true, "3.4e39"},
        {"", false},
        {"-", false},
        {",", false},
        {"-,", false},
        {"1,2,3", false},
        {"1,,5", false},
        {"1,5.2", false},
        {"1.5,2", false},
        {"1,000.5", false},
        {"1e3,5", false},
        {"inf,", false},
        {"1.2.3", false},
        {"--1", false},
        {"+-1", false},
        {"1e", false},
        {"12a", false},
        {"..5", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.token);
        float value = 0.0f;
        EXPECT_EQ(parseFloatToken(c.token, value), c.number);
        if (c.number) {
            const float expected = std::strtof(c.dotted != nullptr ? c.dotted : c.token, nullptr);
            EXPECT_EQ(std::bit_cast<uint32_t>(value), std::bit_cast<uint32_t>(expected));
        }
        // Header values (corners, cell sizes) take a decimal comma in
        // double the same way.
        if (std::string_view(c.token).find(',') == std::string_view::npos)
            continue;
        double real = 0.0;
        EXPECT_EQ(parseDouble(c.token, real), c.number);
        if (c.number) {
            const double expected = std::strtod(c.dotted != nullptr ? c.dotted : c.token, nullptr);
            EXPECT_EQ(std::bit_cast<uint64_t>(real), std::bit_cast<uint64_t>(expected));
        }
    }
    // A NUL inside a token ends no number early.
    float value = 0.0f;
    EXPECT_FALSE(parseFloatToken(std::string_view("10\0garbage", 10), value));
    EXPECT_FALSE(parseFloatToken(std::string_view("1e5\0", 4), value));
}

}  // namespace
