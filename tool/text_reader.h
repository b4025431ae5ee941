// Buffered whitespace-separated token reading from a file, without scanf:
// large reads, and numbers parsed in place, the usual short decimals eight
// bytes at a time and any other form with std::from_chars.
#ifndef MORVANE_TEXT_READER_H
#define MORVANE_TEXT_READER_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

namespace text_detail {

// Words hold bytes in lanes, the first byte in the lowest lane.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "byte lanes assume a little-endian host");

constexpr uint64_t kOnes = 0x0101010101010101u;  // one in every byte lane

// The characters isspace() takes in the C locale, as one bit test.
inline bool isSpace(char c)
{
    constexpr uint64_t kSpaces = (uint64_t{1} << ' ') | (uint64_t{1} << '\n') | (uint64_t{1} << '\r') |
                                 (uint64_t{1} << '\t') | (uint64_t{1} << '\v') | (uint64_t{1} << '\f');
    const auto u = static_cast<unsigned char>(c);
    return u <= ' ' && ((kSpaces >> u) & 1) != 0;
}

inline uint64_t load64(const char *p)
{
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline uint64_t load32(const char *p)
{
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// The byte lanes below lane n (0 to 8) of a word.
inline uint64_t lanesBelow(size_t n) { return n >= 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * n)) - 1; }

// Lowest lane index whose byte is zero, for a word that has one. (Lanes
// above a zero byte may be flagged falsely; the lowest flag is exact.)
inline size_t firstZeroByte(uint64_t w)
{
    return static_cast<size_t>(__builtin_ctzll((w - kOnes) & ~w & (kOnes * 0x80))) / 8;
}

inline bool hasZeroByte(uint64_t w) { return ((w - kOnes) & ~w & (kOnes * 0x80)) != 0; }

// Length of the token at p, which a space ends, eight bytes at a time;
// at least eight bytes must be readable from wherever that space lies.
inline size_t tokenLength(const char *p)
{
    size_t n = 0;
    for (;;) {
        const uint64_t w = load64(p + n);
        // Bytes below 0x21 (spaces and other control characters).
        const uint64_t low = (w - kOnes * 0x21) & ~w & (kOnes * 0x80);
        if (low == 0) {
            n += 8;
            continue;
        }
        n += static_cast<size_t>(__builtin_ctzll(low)) / 8;
        if (isSpace(p[n]))
            return n;
        ++n;
    }
}

// len (1 to 8) bytes at p as one word, the first byte in the lowest lane
// and zero bytes above: two overlapping loads, or three single bytes.
inline uint64_t loadShort(const char *p, size_t len)
{
    if (len >= 4)
        return load32(p) | load32(p + len - 4) << (8 * (len - 4));
    return uint64_t{static_cast<uint8_t>(p[0])} | uint64_t{static_cast<uint8_t>(p[len / 2])} << (8 * (len / 2)) |
           uint64_t{static_cast<uint8_t>(p[len - 1])} << (8 * (len - 1));
}

}  // namespace text_detail

class TextReader {
public:
    explicit TextReader(std::FILE *file, size_t bufferBytes = size_t{1} << 20);

    // The next token, or an empty view at the end of the text. A token that
    // does not fit the look-ahead window sets tooLong() and ends the text.
    std::string_view next()
    {
        // Inline for a grid's millions of values: a token that ends inside
        // the window. The spaces kept after the data end the token scan.
        using text_detail::isSpace;
        const char *const data = buffer_.data();
        size_t pos = pos_;
        while (pos < end_ && isSpace(data[pos]))
            ++pos;
        const size_t stop = pos + text_detail::tokenLength(data + pos);
        if (pending_ || stop >= end_)
            return nextAtWindowEnd();
        pos_ = stop;
        return last_ = std::string_view(data + pos, stop - pos);
    }
    // The token returned by the last next() is handed out again.
    void unget() { pending_ = true; }

    bool tooLong() const { return tooLong_; }
    bool readError() const { return std::ferror(file_) != 0; }

private:
    std::string_view nextAtWindowEnd();
    void refill();
    static constexpr size_t kPadding = 8;  // a word can be read from end_
    size_t window() const { return buffer_.size() - kPadding; }

    std::FILE *file_;
    std::vector<char> buffer_;  // the window, then kPadding spaces after the data
    size_t pos_ = 0;
    size_t end_ = 0;
    bool eof_ = false;
    bool pending_ = false;
    bool tooLong_ = false;
    std::string_view last_;
};

// The grids' usual values: an optional '-', then up to eight characters of
// digits with at most one '.' between two of them, seven digits in all.
// Digits and power of ten are then both exact floats and one division
// rounds correctly, as strtof does. False for every other token.
inline bool parseShortDecimal(std::string_view token, float &value)
{
    using namespace text_detail;
    static constexpr float kPowersOfTen[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f};
    const bool negative = !token.empty() && token.front() == '-';
    const size_t len = token.size() - (negative ? 1 : 0);
    if (len == 0 || len > 8)
        return false;
    // The characters as byte lanes, the first (most significant) lowest.
    uint64_t w = loadShort(token.data() + (negative ? 1 : 0), len);
    size_t count = len, places = 0;
    if (const uint64_t dots = w ^ (kOnes * '.'); hasZeroByte(dots)) {
        const size_t at = firstZeroByte(dots);
        if (at == 0 || at + 1 >= len)
            return false;
        const uint64_t before = lanesBelow(at);
        w = (w & before) | ((w >> 8) & ~before);  // close the gap
        count = len - 1;
        places = len - 1 - at;
    }
    if (count > 7)
        return false;
    // All digits? The lanes above count are '0's for the test.
    const uint64_t t = w | (~lanesBelow(count) & (kOnes * '0'));
    if ((t & (kOnes * 0xF0)) != kOnes * 0x30 || ((t + kOnes * 0x06) & (kOnes * 0xF0)) != kOnes * 0x30)
        return false;
    // Right-aligned behind zero digits, the eight digits are summed in
    // pairs, then the pairs in fours and the fours into the number.
    uint64_t v = (t - kOnes * '0') << (8 * (8 - count));
    v = v * 10 + (v >> 8);
    v = ((v & 0x000000FF000000FFu) * (100 + (uint64_t{1000000} << 32)) +
         ((v >> 16) & 0x000000FF000000FFu) * (1 + (uint64_t{10000} << 32))) >>
        32;
    const float magnitude = static_cast<float>(static_cast<uint32_t>(v)) / kPowersOfTen[places];
    value = negative ? -magnitude : magnitude;
    return true;
}

// Any other form of number "%f" reads.
bool parseOtherFloat(std::string_view token, float &value);

// Parses a whole token as a single-precision value the way "%f" reads it
// (correctly rounded; sign, exponent, inf and nan accepted); false when the
// whole token is not a number.
inline bool parseFloatToken(std::string_view token, float &value)
{
    return parseShortDecimal(token, value) || parseOtherFloat(token, value);
}

#endif
