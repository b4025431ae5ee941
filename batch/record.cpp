#include "record.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace batch {

namespace {

constexpr std::string_view kFirstLine = "morvane-batch record 1";

}  // namespace

std::string escape(std::string_view text)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7f || byte == '%') {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        } else {
            out += c;
        }
    }
    return out;
}

std::optional<std::string> unescape(std::string_view text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        unsigned value = 0;
        if (i + 2 >= text.size() ||
            std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16).ptr != text.data() + i + 3)
            return std::nullopt;
        out += static_cast<char>(value);
        i += 2;
    }
    return out;
}

std::string stampText(const FileStamp &s)
{
    return std::to_string(s.size) + " " + std::to_string(s.mtimeNs);
}

namespace {

template <typename T>
bool number(std::string_view text, T &value)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

// The fields of a line, split at every space (an empty name is an empty field).
std::vector<std::string_view> fields(std::string_view line)
{
    std::vector<std::string_view> out;
    for (size_t space; (space = line.find(' ')) != std::string_view::npos; line.remove_prefix(space + 1))
        out.push_back(line.substr(0, space));
    out.push_back(line);
    return out;
}

bool stamp(const std::vector<std::string_view> &f, size_t at, FileStamp &s)
{
    return f.size() == at + 2 && number(f[at], s.size) && number(f[at + 1], s.mtimeNs);
}

}  // namespace

TileStatus statusOf(int exitStatus, bool endedBySignal)
{
    if (endedBySignal)
        return TileStatus::Killed;
    return exitStatus == 0 ? TileStatus::Kept : exitStatus == 1 ? TileStatus::None : TileStatus::Failed;
}

std::string_view statusName(TileStatus status)
{
    switch (status) {
    case TileStatus::Kept: return "kept";
    case TileStatus::None: return "none";
    case TileStatus::Failed: return "failed";
    case TileStatus::Killed: return "killed";
    }
    return "failed";
}

std::string formatRecord(const Record &r)
{
    const RunInputs &in = r.inputs;
    std::string t(kFirstLine);
    t += "\ntile " + escape(r.tile);
    t += "\nmorvane " + escape(in.morvaneVersion);
    t += "\nraster " + escape(in.raster) + " " + stampText(in.rasterStamp);
    t += "\nraster-header " + stampText(in.rasterHeaderStamp);
    t += "\nlimits " + escape(in.low) + " " + escape(in.high);
    t += "\ninput " + stampText(in.tileStamp);
    t += "\nstatus " + std::string(statusName(r.status)) + " " + std::to_string(r.exitStatus);
    if (r.tally)
        t += "\ntally " + std::to_string(r.tally->kept) + " " + std::to_string(r.tally->notKept) + " " +
             std::to_string(r.tally->nodata) + " " + std::to_string(r.tally->outside);
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", r.seconds);
    t += "\nseconds " + std::string(seconds) + "\n";
    return t;
}

namespace {

// One line of a record into r: false when it is not one of the lines a
// record has, or not well formed.
bool parseLine(const std::vector<std::string_view> &f, Record &r)
{
    const std::string_view kind = f[0];
    std::optional<std::string> a, b;
    if (kind == "tile" && f.size() == 2 && (a = unescape(f[1])))
        r.tile = *a;
    else if (kind == "morvane" && f.size() == 2 && (a = unescape(f[1])))
        r.inputs.morvaneVersion = *a;
    else if (kind == "raster" && f.size() == 4 && (a = unescape(f[1])) && stamp(f, 2, r.inputs.rasterStamp))
        r.inputs.raster = *a;
    else if (kind == "raster-header")
        return stamp(f, 1, r.inputs.rasterHeaderStamp);
    else if (kind == "limits" && f.size() == 3 && (a = unescape(f[1])) && (b = unescape(f[2]))) {
        r.inputs.low = *a;
        r.inputs.high = *b;
    } else if (kind == "input")
        return stamp(f, 1, r.inputs.tileStamp);
    else if (kind == "status" && f.size() == 3 && number(f[2], r.exitStatus)) {
        for (const TileStatus s : {TileStatus::Kept, TileStatus::None, TileStatus::Failed, TileStatus::Killed})
            if (f[1] == statusName(s)) {
                r.status = s;
                return true;
            }
        return false;
    } else if (kind == "tally" && f.size() == 5) {
        Tally t;
        if (!number(f[1], t.kept) || !number(f[2], t.notKept) || !number(f[3], t.nodata) || !number(f[4], t.outside))
            return false;
        r.tally = t;
    } else if (kind == "seconds" && f.size() == 2)
        return number(f[1], r.seconds);
    else
        return false;
    return true;
}

}  // namespace

std::optional<Record> parseRecord(std::string_view text)
{
    if (!text.starts_with(kFirstLine) || text.substr(kFirstLine.size(), 1) != "\n" || !text.ends_with('\n'))
        return std::nullopt;
    text.remove_prefix(kFirstLine.size() + 1);
    Record r;
    std::vector<std::string_view> seen;  // every line kind once; all but the tally required
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::vector<std::string_view> f = fields(text.substr(0, end));
        text.remove_prefix(end + 1);
        if (std::find(seen.begin(), seen.end(), f[0]) != seen.end() || !parseLine(f, r))
            return std::nullopt;
        seen.push_back(f[0]);
    }
    if (seen.size() != (r.tally ? 9u : 8u))
        return std::nullopt;
    return r;
}

bool finishedFrom(const Record &record, const RunInputs &inputs)
{
    return (record.status == TileStatus::Kept || record.status == TileStatus::None) && record.inputs == inputs &&
           inputs.tileStamp.size >= 0;
}

std::string limitValue(const std::string &text)
{
    char value[40];
    std::snprintf(value, sizeof value, "%.17g", std::atof(text.c_str()));
    return value;
}

bool parseStamp(std::string_view text, FileStamp &s)
{
    return stamp(fields(text), 0, s);
}

}  // namespace batch
