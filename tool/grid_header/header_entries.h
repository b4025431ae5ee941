// The keyword-value pairs of a grid header, gathered whole before any is
// interpreted, and typed reads of them. Every refusal throws HeaderError
// with a reason that names the keyword as the file spells it.
#ifndef MORVANE_HEADER_ENTRIES_H
#define MORVANE_HEADER_ENTRIES_H

#include "grid_header/header_keywords.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace morvane {

class TextReader;

struct HeaderError {
    std::string reason;
};

[[noreturn]] void refuseHeader(std::string reason);

class HeaderEntries {
public:
    // Reads pairs up to the end of the text or, in an ASCII grid, up to the
    // first cell value, which the reader hands out next. In a .hdr, a word
    // that is no keyword of ours is metadata: it is skipped with the rest of
    // its line.
    HeaderEntries(TextReader &reader, bool asciiGrid);

    bool has(HeaderKey k) const { return slot(k).has_value(); }
    const std::string &name(HeaderKey k) const { return slot(k)->keyword; }
    const std::string &text(HeaderKey k) const { return slot(k)->value; }

    [[noreturn]] void unreadable(HeaderKey k) const;
    int64_t integer(HeaderKey k) const;
    double real(HeaderKey k) const;          // finite
    int32_t count(HeaderKey k) const;        // a positive 32-bit count
    double positiveSide(HeaderKey k) const;  // a cell side: positive and finite
    // A keyword whose integer value, when given, must be exactly `expected`.
    void require(HeaderKey k, int64_t expected, const std::string &why) const;

private:
    struct Entry {
        std::string keyword;  // as the file spells it
        std::string value;
    };

    void collect(TextReader &reader, bool ascii);
    bool complete() const;

    const std::optional<Entry> &slot(HeaderKey k) const { return seen_[static_cast<size_t>(k)]; }
    std::optional<Entry> &slot(HeaderKey k) { return seen_[static_cast<size_t>(k)]; }

    std::array<std::optional<Entry>, static_cast<size_t>(HeaderKey::Count)> seen_;
};

}  // namespace morvane

#endif
