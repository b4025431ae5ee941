#include "header_entries.h"

#include "numeric_text.h"
#include "raster_header.h"

#include <cmath>
#include <utility>

namespace grid_header {

void refuse(std::string reason)
{
    throw HeaderError{std::move(reason)};
}

std::string quoted(std::string_view s)
{
    return quotedToken(s);
}

HeaderEntries::HeaderEntries(TextReader &reader, bool asciiGrid)
{
    collect(reader, asciiGrid);
}

void HeaderEntries::collect(TextReader &reader, bool ascii)
{
    std::string last;
    for (;;) {
        const std::string_view keyToken = reader.next();
        if (keyToken.empty())
            break;
        const std::optional<Key> key = keywordOf(keyToken);
        if (!key) {
            float probe = 0.0f;
            if (ascii && (parseFloatToken(keyToken, probe) || complete())) {
                reader.unget();  // the first cell value, or one that is no number: the header is over
                break;
            }
            if (last.empty())
                refuse("unknown keyword " + quoted(keyToken));
            refuse("unknown keyword " + quoted(keyToken) + " after keyword " + quoted(last));
        }
        const std::string keyword(keyToken);
        const std::string_view valueToken = reader.next();
        if (valueToken.empty() || keywordOf(valueToken)) {
            if (reader.tooLong())
                break;
            refuse("keyword " + quoted(keyword) + " has no value");
        }
        std::optional<Entry> &slot = seen_[*key];
        if (slot) {
            if (lower(slot->keyword) == lower(keyword))
                refuse("keyword " + quoted(keyword) + " is given twice");
            refuse("keywords " + quoted(slot->keyword) + " and " + quoted(keyword) + " both give the same value");
        }
        slot = Entry{keyword, std::string(valueToken)};
        last = keyword;
    }
    if (reader.tooLong())
        refuse("a header token is too long");
}

// Everything an ASCII grid's header must give has been given: what follows
// is data, even when it is no number.
bool HeaderEntries::complete() const
{
    return has(kNCols) && has(kNRows) && (has(kXllCorner) || has(kXllCenter)) && (has(kYllCorner) || has(kYllCenter)) &&
           (has(kCellSize) || has(kDx));
}

void HeaderEntries::unreadable(Key k) const
{
    refuse("cannot read the value " + quoted(text(k)) + " of keyword " + quoted(name(k)));
}

int64_t HeaderEntries::integer(Key k) const
{
    int64_t v = 0;
    if (!numeric_text::parseInteger(text(k), v))
        unreadable(k);
    return v;
}

double HeaderEntries::real(Key k) const
{
    double v = 0.0;
    if (!numeric_text::parseDouble(text(k), v))
        unreadable(k);
    if (!std::isfinite(v))
        refuse("keyword " + quoted(name(k)) + " must be finite, not " + quoted(text(k)));
    return v;
}

int32_t HeaderEntries::count(Key k) const
{
    if (!has(k))
        refuse("keyword " + quoted(k == kNCols ? "ncols" : "nrows") + " is missing");
    const int64_t v = integer(k);
    if (v <= 0 || v > INT32_MAX)
        refuse("keyword " + quoted(name(k)) + " must be a positive 32-bit count");
    return static_cast<int32_t>(v);
}

double HeaderEntries::positiveSide(Key k) const
{
    double v = 0.0;
    if (!numeric_text::parseDouble(text(k), v))
        unreadable(k);
    if (!(v > 0.0) || !std::isfinite(v))
        refuse("keyword " + quoted(name(k)) + " is " + quoted(text(k)) + ": the cell size must be positive and finite");
    return v;
}

void HeaderEntries::require(Key k, int64_t expected, const std::string &why) const
{
    if (has(k) && integer(k) != expected)
        refuse("keyword " + quoted(name(k)) + " is " + text(k) + why);
}

}  // namespace grid_header
