// Buffered whitespace-separated token reading from a file, without scanf:
// large reads, tokens found eight bytes at a time, and a grid's runs of
// short decimals parsed in place.
#ifndef MORVANE_TEXT_READER_H
#define MORVANE_TEXT_READER_H

#include "lidar/internal/block_size.h"
#include "text/byte_lanes.h"
#include "text/decimal_run.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <vector>

namespace morvane {

class TextReader {
public:
    explicit TextReader(std::FILE *file, size_t bufferBytes = lidar::kBlockBytes);

    // The next token, or an empty view at the end of the text. A token that
    // does not fit the look-ahead window sets tooLong() and ends the text.
    std::string_view next()
    {
        // One that ends inside the window is found inline.
        if (!pending_) {
            const auto [begin, stop] = tokenFrom(buffer_.data(), pos_, end_);
            if (stop < end_) {
                pos_ = stop;
                return last_ = std::string_view(buffer_.data() + begin, stop - begin);
            }
        }
        return nextAtWindowEnd();
    }
    // The next tokens, up to count of them, while each is a short decimal
    // (see parseShortDecimal) that ends inside the window: their values
    // into `into`; how many. Nothing where a token was handed back. A
    // grid's usual values, parsed several at a time; next() then takes the
    // one that stopped the run.
    size_t nextDecimals(float *into, size_t count)
    {
        if (pending_)
            return 0;
        const DecimalRun run = parseDecimalRun(buffer_.data(), pos_, end_, into, count);
        if (run.values != 0) {
            pos_ = run.end;
            last_ = std::string_view(buffer_.data() + run.lastBegin, run.end - run.lastBegin);
        }
        return run.values;
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
    static constexpr size_t kPadding = kDecimalRunPadding;  // spaces after end_, for the scans
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
