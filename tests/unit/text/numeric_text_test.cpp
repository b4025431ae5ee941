// The grid values' fast decimal path against strtof, bit for bit: every
// token of up to six digits with the dot in every place and either sign,
// and a large sample of seven-digit ones; the forms it hands to the general
// parser read the same.
#include "text/numeric_text.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>

namespace {

// The token as the grid would spell it: sign, digits, the dot before digit
// `dot` (0: none).
std::string spelled(bool negative, const std::string &digits, size_t dot)
{
    std::string t = negative ? "-" : "";
    t += dot == 0 ? digits : digits.substr(0, dot) + "." + digits.substr(dot);
    return t;
}

// Every placement of the dot and sign for one run of digits; false at the
// first difference, which `fault` then names.
bool agreesWithStrtof(const std::string &digits, std::string &fault)
{
    for (const bool negative : {false, true}) {
        for (size_t dot = 0; dot < digits.size(); ++dot) {
            const std::string token = spelled(negative, digits, dot);
            float fast = 0.0f;
            const bool parsed = parseFloatToken(token, fast);
            const float expected = std::strtof(token.c_str(), nullptr);
            if (!parsed || std::bit_cast<uint32_t>(fast) != std::bit_cast<uint32_t>(expected)) {
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
            ASSERT_TRUE(agreesWithStrtof(digits, fault)) << fault;
        }
    }
    // Seven digits, the longest the fast path takes: a sample.
    std::mt19937 rng(7);
    std::string digits(7, '0');
    for (int i = 0; i < 300000; ++i) {
        for (char &d : digits)
            d = static_cast<char>('0' + rng() % 10);
        ASSERT_TRUE(agreesWithStrtof(digits, fault)) << fault;
    }
}

TEST(NumericText, OtherFormsAndRefusals)
{
    const struct {
        const char *token;
        bool number;
    } cases[] = {
        {"12345678", true}, {"1234567.8", true}, {"0.00000001", true}, {"+5", true},    {"1e3", true},
        {"-2.5E-2", true},  {"inf", true},       {"-nan", true},       {"0x1p3", true}, {"3.4e39", true},
        {"1.", true},       {".5", true},        {"-.5", true},        {"", false},     {"-", false},
        {"1,5", false},     {"1.2.3", false},    {"--1", false},       {"+-1", false},  {"1e", false},
        {"12a", false},     {"..5", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.token);
        float value = 0.0f;
        EXPECT_EQ(parseFloatToken(c.token, value), c.number);
        if (c.number) {
            const float expected = std::strtof(c.token, nullptr);
            EXPECT_EQ(std::bit_cast<uint32_t>(value), std::bit_cast<uint32_t>(expected));
        }
    }
    // A NUL inside a token ends no number early.
    float value = 0.0f;
    EXPECT_FALSE(parseFloatToken(std::string_view("10\0garbage", 10), value));
    EXPECT_FALSE(parseFloatToken(std::string_view("1e5\0", 4), value));
}

}  // namespace
