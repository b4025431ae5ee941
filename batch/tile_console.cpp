#include "tile_console.h"

#include <array>
#include <charconv>

namespace batch {

namespace {

// A console line longer than this is a console gone wrong: it is kept in
// pieces rather than held whole.
constexpr size_t kLongestLine = 64 * 1024;
constexpr size_t kLastLineShown = 400;

}  // namespace

std::optional<std::pair<unsigned, uint64_t>> tallyLine(std::string_view line)
{
    static constexpr std::array<std::string_view, 4> kEnds = {
        "% of input) meet selection criteria", "% of input) do not", "% of input) on NODATA raster cells",
        "% of input) outside the raster"};
    const size_t digits = line.find_first_not_of(' ');
    if (digits == std::string_view::npos)
        return std::nullopt;
    uint64_t count = 0;
    const auto [end, ec] = std::from_chars(line.data() + digits, line.data() + line.size(), count);
    const std::string_view rest = line.substr(static_cast<size_t>(end - line.data()));
    if (ec != std::errc() || !rest.starts_with(" points ( "))
        return std::nullopt;
    for (unsigned which = 0; which < kEnds.size(); ++which)
        if (rest.ends_with(kEnds[which]))
            return std::pair{which, count};
    return std::nullopt;
}

void TileConsole::feed(std::string_view bytes)
{
    while (!bytes.empty()) {
        const size_t end = bytes.find_first_of("\r\n");
        if (end == std::string_view::npos) {
            line_.append(bytes);
            if (line_.size() > kLongestLine) {
                log_ += line_;
                line_.clear();
            }
            return;
        }
        line_.append(bytes.substr(0, end));
        if (bytes[end] == '\n')
            keepLine(line_);
        line_.clear();  // a carriage return: the line was progress, to be overwritten
        bytes.remove_prefix(end + 1);
    }
}

void TileConsole::finish()
{
    if (!line_.empty())
        keepLine(line_);
    line_.clear();
}

void TileConsole::keepLine(std::string_view line)
{
    log_.append(line);
    log_ += '\n';
    if (line.find_first_not_of(' ') != std::string_view::npos)
        lastLine_ = line.substr(0, kLastLineShown);
    if (const auto counted = tallyLine(line)) {
        std::array<uint64_t *, 4> fields = {&tally_.kept, &tally_.notKept, &tally_.nodata, &tally_.outside};
        *fields[counted->first] = counted->second;
        tallyLines_ |= 1u << counted->first;
    }
}

std::optional<Tally> TileConsole::tally() const
{
    return tallyLines_ == 15 ? std::optional<Tally>(tally_) : std::nullopt;
}

}  // namespace batch
