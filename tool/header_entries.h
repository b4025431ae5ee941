// The keyword-value pairs of a grid header, gathered whole before any is
// interpreted, and typed reads of them. Every refusal throws HeaderError
// with a reason that names the keyword as the file spells it.
#ifndef MORVANE_HEADER_ENTRIES_H
#define MORVANE_HEADER_ENTRIES_H

#include "header_keywords.h"
#include "text_reader.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace grid_header {

struct HeaderError {
    std::string reason;
};

[[noreturn]] void refuse(std::string reason);
std::string quoted(std::string_view s);

class HeaderEntries {
public:
    // Reads pairs up to the end of the text or, in an ASCII grid, up to the
    // first cell value, which the reader hands out next.
    HeaderEntries(TextReader &reader, bool asciiGrid);

    bool has(Key k) const { return seen_[k].has_value(); }
    const std::string &name(Key k) const { return seen_[k]->keyword; }
    const std::string &text(Key k) const { return seen_[k]->value; }

    [[noreturn]] void unreadable(Key k) const;
    int64_t integer(Key k) const;
    double real(Key k) const;          // finite
    int32_t count(Key k) const;        // a positive 32-bit count
    double positiveSide(Key k) const;  // a cell side: positive and finite
    // A keyword whose integer value, when given, must be exactly `expected`.
    void require(Key k, int64_t expected, const std::string &why) const;

private:
    struct Entry {
        std::string keyword;  // as the file spells it
        std::string value;
    };

    void collect(TextReader &reader, bool ascii);
    bool complete() const;

    std::array<std::optional<Entry>, kKeyCount> seen_;
};

}  // namespace grid_header

#endif
