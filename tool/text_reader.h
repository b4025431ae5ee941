// Buffered whitespace-separated token reading from a file, without scanf:
// large reads, and numbers parsed in place with std::from_chars.
#ifndef MORVANE_TEXT_READER_H
#define MORVANE_TEXT_READER_H

#include <cstdio>
#include <string_view>
#include <vector>

class TextReader {
public:
    explicit TextReader(std::FILE *file, size_t bufferBytes = size_t{1} << 20);

    // The next token, or an empty view at the end of the text. A token that
    // does not fit the look-ahead window sets tooLong() and ends the text.
    std::string_view next();
    // The token returned by the last next() is handed out again.
    void unget() { pending_ = true; }

    bool tooLong() const { return tooLong_; }
    bool readError() const { return std::ferror(file_) != 0; }

private:
    void refill();

    std::FILE *file_;
    std::vector<char> buffer_;
    size_t pos_ = 0;
    size_t end_ = 0;
    bool eof_ = false;
    bool pending_ = false;
    bool tooLong_ = false;
    std::string_view last_;
};

// Parses a whole token as a single-precision value the way "%f" reads it
// (correctly rounded; sign, exponent, inf and nan accepted); false when the
// whole token is not a number.
bool parseFloatToken(std::string_view token, float &value);

#endif
