// A tile's console as its log keeps it: Morvane's progress lines (those a
// carriage return ends, to be overwritten) are left out, so the log holds
// whole lines only; the tally and the last message are read on the way.
#ifndef BATCH_TILE_CONSOLE_H
#define BATCH_TILE_CONSOLE_H

#include "record.h"

#include <optional>
#include <string>
#include <string_view>

namespace batch {

class TileConsole {
public:
    // Takes the next bytes of the console; the lines kept are appended to
    // pendingLog() for the caller to write out.
    void feed(std::string_view bytes);
    // The end of the console: a last line without its line feed is kept whole.
    void finish();

    std::string &pendingLog() { return log_; }
    // The four tally lines, once all were seen.
    std::optional<Tally> tally() const;
    // The last line that is not blank (what a failed tile says).
    const std::string &lastLine() const { return lastLine_; }

private:
    void keepLine(std::string_view line);

    std::string line_;  // the line being read, since the last line feed or carriage return
    std::string log_;
    std::string lastLine_;
    Tally tally_;
    unsigned tallyLines_ = 0;  // one bit per tally line seen
};

// The count of a tally line ("%28u points ( ...% of input) <what>"): which
// of the four (0 to 3) and its count; nothing for any other line.
std::optional<std::pair<unsigned, uint64_t>> tallyLine(std::string_view line);

}  // namespace batch

#endif
