// Buffered whitespace-separated token reading from a file, without scanf:
// large reads, and tokens found eight bytes at a time.
#ifndef MORVANE_TEXT_READER_H
#define MORVANE_TEXT_READER_H

#include "lidar/internal/block_size.h"
#include "text/byte_lanes.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <vector>

namespace morvane {

// The characters isspace() takes in the C locale, as one bit test.
inline bool isSpace(char c)
{
    constexpr uint64_t kSpaces = (uint64_t{1} << ' ') | (uint64_t{1} << '\n') | (uint64_t{1} << '\r') |
                                 (uint64_t{1} << '\t') | (uint64_t{1} << '\v') | (uint64_t{1} << '\f');
    const auto u = static_cast<unsigned char>(c);
    return u <= ' ' && ((kSpaces >> u) & 1) != 0;
}

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

class TextReader {
public:
    explicit TextReader(std::FILE *file, size_t bufferBytes = lidar::kBlockBytes);

    // The next token, or an empty view at the end of the text. A token that
    // does not fit the look-ahead window sets tooLong() and ends the text.
    std::string_view next()
    {
        // One that ends inside the window is found inline.
        std::string_view token;
        return nextInWindow(&token, 1) == 1 ? token : nextAtWindowEnd();
    }
    // The next tokens that end inside the window, up to count of them, into
    // `into`; how many were found. Each view stays valid until the next
    // call. Nothing (0) where the next token reaches the window's end or a
    // token was handed back: next() then takes the one token. For a grid's
    // values: the position stays in a register from token to token, and the
    // tokens' numbers are then parsed independently of one another.
    size_t nextInWindow(std::string_view *into, size_t count)
    {
        if (pending_)
            return 0;
        // The spaces kept after the data end the last token scan.
        const char *const data = buffer_.data();
        size_t pos = pos_, found = 0;
        while (found < count) {
            while (pos < end_ && isSpace(data[pos]))
                ++pos;
            const size_t stop = pos + tokenLength(data + pos);
            if (stop >= end_)
                break;
            into[found++] = std::string_view(data + pos, stop - pos);
            pos = stop;
        }
        if (found != 0) {
            pos_ = pos;
            last_ = into[found - 1];
        }
        return found;
    }
    // The token returned by the last next() is handed out again.
    void unget() { pending_ = true; }
    // Drops the rest of the line that the token returned by the last next()
    // stands on: the next token is the first of a later line. A line ends
    // at '\n' or '\r'.
    void skipLine();
    // Where the token returned by the last next() begins, in bytes from
    // where the reader started in the file.
    // At the end of the text, where the text ends.
    uint64_t lastTokenOffset() const
    {
        const size_t at = last_.data() != nullptr ? static_cast<size_t>(last_.data() - buffer_.data()) : end_;
        return discarded_ + at;
    }

    bool tooLong() const { return tooLong_; }
    // The errno of a failed read (a directory, an I/O error), else 0; a
    // failed read ends the text.
    int readError() const { return error_; }

private:
    std::string_view nextAtWindowEnd();
    void refill();
    static constexpr size_t kPadding = 8;  // a word can be read from end_
    size_t window() const { return buffer_.size() - kPadding; }

    std::FILE *file_;
    std::vector<char> buffer_;  // the window, then kPadding spaces after the data
    size_t pos_ = 0;
    size_t end_ = 0;
    uint64_t discarded_ = 0;  // bytes read and dropped before buffer_[0]
    bool eof_ = false;
    bool pending_ = false;
    bool tooLong_ = false;
    int error_ = 0;
    std::string_view last_;
};

}  // namespace morvane

#endif
