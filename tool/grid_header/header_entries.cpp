#include "grid_header/header_entries.h"

#include "text/numeric_text.h"
#include "text/quoted_token.h"
#include "text/text_reader.h"

#include <cmath>
#include <utility>

namespace morvane {

void refuseHeader(std::string reason)
{
    throw HeaderError{std::move(reason)};
}

namespace {

// A word where a .hdr has a keyword: metadata that does not bear on the grid
// (DatabaseName, Version, MinValue, Projection, ...), which GDAL skips with
// the rest of its line. Anything else there (a number, binary bytes) is no
// metadata but a malformed or foreign file.
bool metadataKeyword(std::string_view token)
{
    const char c = token.front();
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

}  // namespace

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
        const std::optional<HeaderKey> key = keywordOf(keyToken);
        if (!key) {
            float probe = 0.0f;
            if (ascii && (parseFloatToken(keyToken, probe) || complete())) {
                reader.unget();  // the first cell value, or one that is no number: the header is over
                break;
            }
            // In an ASCII grid an unknown word may be data, so it is refused there.
            if (!ascii && metadataKeyword(keyToken)) {
                reader.skipLine();
                continue;
            }
            if (last.empty())
                refuseHeader("unknown keyword " + quotedToken(keyToken));
            refuseHeader("unknown keyword " + quotedToken(keyToken) + " after keyword " + quotedToken(last));
        }
        const std::string keyword(keyToken);
        const std::string_view valueToken = reader.next();
        if (valueToken.empty() || keywordOf(valueToken)) {
            if (reader.tooLong())
                break;
            refuseHeader("keyword " + quotedToken(keyword) + " has no value");
        }
        std::optional<Entry> &entry = slot(*key);
        if (entry) {
            if (lowerAscii(entry->keyword) == lowerAscii(keyword))
                refuseHeader("keyword " + quotedToken(keyword) + " is given twice");
            refuseHeader("keywords " + quotedToken(entry->keyword) + " and " + quotedToken(keyword) +
                         " both give the same value");
        }
        entry = Entry{keyword, std::string(valueToken)};
        last = keyword;
    }
    if (reader.tooLong())
        refuseHeader("a header token is too long");
}

// Everything an ASCII grid's header must give has been given: what follows
// is data, even when it is no number.
bool HeaderEntries::complete() const
{
    return has(HeaderKey::NCols) && has(HeaderKey::NRows) && (has(HeaderKey::XllCorner) || has(HeaderKey::XllCenter)) &&
           (has(HeaderKey::YllCorner) || has(HeaderKey::YllCenter)) && (has(HeaderKey::CellSize) || has(HeaderKey::Dx));
}

void HeaderEntries::unreadable(HeaderKey k) const
{
    refuseHeader("cannot read the value " + quotedToken(text(k)) + " of keyword " + quotedToken(name(k)));
}

int64_t HeaderEntries::integer(HeaderKey k) const
{
    int64_t v = 0;
    if (!parseInteger(text(k), v))
        unreadable(k);
    return v;
}

double HeaderEntries::real(HeaderKey k) const
{
    double v = 0.0;
    if (!parseDouble(text(k), v))
        unreadable(k);
    if (!std::isfinite(v))
        refuseHeader("keyword " + quotedToken(name(k)) + " must be finite, not " + quotedToken(text(k)));
    return v;
}

int32_t HeaderEntries::count(HeaderKey k) const
{
    if (!has(k))
        refuseHeader("keyword " + quotedToken(k == HeaderKey::NCols ? "ncols" : "nrows") + " is missing");
    const int64_t v = integer(k);
    if (v <= 0 || v > INT32_MAX)
        refuseHeader("keyword " + quotedToken(name(k)) + " must be a positive 32-bit count");
    return static_cast<int32_t>(v);
}

double HeaderEntries::positiveSide(HeaderKey k) const
{
    double v = 0.0;
    if (!parseDouble(text(k), v))
        unreadable(k);
    if (!(v > 0.0) || !std::isfinite(v))
        refuseHeader("keyword " + quotedToken(name(k)) + " is " + quotedToken(text(k)) +
                     ": the cell size must be positive and finite");
    return v;
}

void HeaderEntries::require(HeaderKey k, int64_t expected, const std::string &why) const
{
    if (has(k) && integer(k) != expected)
        refuseHeader("keyword " + quotedToken(name(k)) + " is " + text(k) + why);
}

}  // namespace morvane
