#include "record.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace batch {

namespace {

constexpr std::string_view kFirstLine = "morvane-batch record 1";

// Bytes that would break a line or a field (control characters, the space,
// the percent sign) as %XX; every other byte, UTF-8 or not, as it is.
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

std::optional<Record> parseRecord(std::string_view text)
{
    if (text.substr(0, kFirstLine.size() + 1) != std::string(kFirstLine) + "\n" || text.back() != '\n')
        return std::nullopt;
    text.remove_prefix(kFirstLine.size() + 1);
    Record r;
    unsigned seen = 0;  // one bit per line kind; every kind but the tally must be there once
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::vector<std::string_view> f = fields(text.substr(0, end));
        text.remove_prefix(end + 1);
        static constexpr std::array<std::string_view, 9> kKinds = {
            "tile", "morvane", "raster", "raster-header", "limits", "input", "status", "seconds", "tally"};
        size_t kind = 0;
        while (kind < kKinds.size() && kKinds[kind] != f[0])
            ++kind;
        if (kind == kKinds.size() || (seen & (1u << kind)) != 0)
            return std::nullopt;
        seen |= 1u << kind;
        std::optional<std::string> a, b;
        bool ok = true;
        switch (kind) {
        case 0: ok = f.size() == 2 && (a = unescape(f[1])); if (ok) r.tile = *a; break;
        case 1: ok = f.size() == 2 && (a = unescape(f[1])); if (ok) r.inputs.morvaneVersion = *a; break;
        case 2:
            ok = f.size() == 4 && (a = unescape(f[1])) && stamp(f, 2, r.inputs.rasterStamp);
            if (ok)
                r.inputs.raster = *a;
            break;
        case 3: ok = stamp(f, 1, r.inputs.rasterHeaderStamp); break;
        case 4:
            ok = f.size() == 3 && (a = unescape(f[1])) && (b = unescape(f[2]));
            if (ok) {
                r.inputs.low = *a;
                r.inputs.high = *b;
            }
            break;
        case 5: ok = stamp(f, 1, r.inputs.tileStamp); break;
        case 6: {
            ok = f.size() == 3 && number(f[2], r.exitStatus);
            const std::array<TileStatus, 4> all = {TileStatus::Kept, TileStatus::None, TileStatus::Failed,
                                                   TileStatus::Killed};
            bool named = false;
            for (const TileStatus s : all)
                if (ok && f[1] == statusName(s)) {
                    r.status = s;
                    named = true;
                }
            ok = ok && named;
            break;
        }
        case 7: ok = f.size() == 2 && (r.seconds = std::atof(std::string(f[1]).c_str()), true); break;
        case 8: {
            Tally t;
            ok = f.size() == 5 && number(f[1], t.kept) && number(f[2], t.notKept) && number(f[3], t.nodata) &&
                 number(f[4], t.outside);
            r.tally = t;
            break;
        }
        }
        if (!ok)
            return std::nullopt;
    }
    return (seen & 0xffu) == 0xffu ? std::optional<Record>(r) : std::nullopt;
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

}  // namespace batch
