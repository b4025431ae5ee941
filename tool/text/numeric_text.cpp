#include "text/numeric_text.h"

#include <charconv>
#include <cstdlib>
#include <optional>
#include <string>

namespace morvane {

std::string_view withoutPlus(std::string_view token)
{
    if (token.size() > 1 && token[0] == '+' && token[1] != '-' && token[1] != '+')
        token.remove_prefix(1);
    return token;
}

namespace {

// The token with a dot in place of its decimal comma: one comma and no dot
// (a thousands separator beside a decimal point is no number here).
std::optional<std::string> withDecimalPoint(std::string_view token)
{
    const size_t comma = token.find(',');
    if (comma == std::string_view::npos || token.find(',', comma + 1) != std::string_view::npos ||
        token.find('.') != std::string_view::npos)
        return std::nullopt;
    std::string dotted(token);
    dotted[comma] = '.';
    return dotted;
}

bool parseDottedDouble(std::string_view token, double &value)
{
    const std::string_view t = withoutPlus(token);
    const auto [ptr, ec] = std::from_chars(t.data(), t.data() + t.size(), value, std::chars_format::general);
    return ec == std::errc() && ptr == t.data() + t.size();
}

bool parseDottedFloat(std::string_view token, float &value)
{
    const std::string_view t = withoutPlus(token);
    const auto [ptr, ec] = std::from_chars(t.data(), t.data() + t.size(), value, std::chars_format::general);
    if (ec == std::errc() && ptr == t.data() + t.size())
        return true;
    // Rare forms: out of float range (inf or 0 like strtof) and hexadecimal.
    // strtof stops at a NUL byte inside the token: the whole token must be
    // used, not just the text before it.
    const std::string copy(token);
    char *endp = nullptr;
    const float parsed = std::strtof(copy.c_str(), &endp);
    if (endp == copy.c_str() || endp != copy.c_str() + copy.size())
        return false;
    value = parsed;
    return true;
}

}  // namespace

bool parseDouble(std::string_view token, double &value)
{
    if (parseDottedDouble(token, value))
        return true;
    const std::optional<std::string> dotted = withDecimalPoint(token);
    return dotted && parseDottedDouble(*dotted, value);
}

bool parseInteger(std::string_view token, int64_t &value)
{
    const std::string_view t = withoutPlus(token);
    const auto [ptr, ec] = std::from_chars(t.data(), t.data() + t.size(), value);
    return ec == std::errc() && ptr == t.data() + t.size();
}

bool parseDecimalLanesWithComma(uint64_t w, size_t len, bool negative, float &value)
{
    const uint64_t commas = w ^ (kOnes * ',');
    if (!hasZeroByte(commas))
        return false;
    const uint64_t dotted = w ^ (uint64_t{'.' ^ ','} << (8 * firstZeroByte(commas)));
    return parseDecimalLanes(dotted, len, negative, value);
}

bool parseOtherFloat(std::string_view token, float &value)
{
    if (parseDottedFloat(token, value))
        return true;
    const std::optional<std::string> dotted = withDecimalPoint(token);
    return dotted && parseDottedFloat(*dotted, value);
}

}  // namespace morvane
