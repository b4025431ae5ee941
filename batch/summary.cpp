#include "summary.h"

#include "file_system.h"

#include <algorithm>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace batch {

namespace {

bool endsWith(std::string_view text, std::string_view end)
{
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

void collect(const std::string &folder, std::vector<Record> &records)
{
    DIR *dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return;
    std::vector<std::string> folders;
    while (const dirent *entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == ".." || name.starts_with(kTemporaryPrefix))
            continue;
        struct stat st {};
        if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISDIR(st.st_mode))
            folders.emplace_back(name);
        else if (S_ISREG(st.st_mode) && endsWith(name, kRecordSuffix))
            if (const auto text = readWholeFile(joinPath(folder, name)))
                if (auto record = parseRecord(*text))
                    records.push_back(std::move(*record));
    }
    ::closedir(dir);
    for (const std::string &name : folders)
        collect(joinPath(folder, name), records);
}

}  // namespace

std::vector<Record> collectRecords(const std::string &outdir)
{
    std::vector<Record> records;
    collect(outdir, records);
    std::sort(records.begin(), records.end(), [](const Record &a, const Record &b) { return a.tile < b.tile; });
    return records;
}

std::string csvField(std::string_view text)
{
    if (text.find_first_of(",\"\r\n") == std::string_view::npos)
        return std::string(text);
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"')
            out += '"';
        out += c;
    }
    return out + "\"";
}

std::string summaryCsv(const std::vector<Record> &records)
{
    std::string csv = "tile,status,exit,kept,not_kept,nodata,outside,seconds\n";
    for (const Record &r : records) {
        csv += csvField(r.tile) + "," + std::string(statusName(r.status)) + "," + std::to_string(r.exitStatus) + ",";
        if (r.tally)
            csv += std::to_string(r.tally->kept) + "," + std::to_string(r.tally->notKept) + "," +
                   std::to_string(r.tally->nodata) + "," + std::to_string(r.tally->outside) + ",";
        else
            csv += ",,,,";
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.3f\n", r.seconds);
        csv += seconds;
    }
    return csv;
}

Totals totalsOf(const std::vector<Record> &records)
{
    Totals t;
    for (const Record &r : records) {
        switch (r.status) {
        case TileStatus::Kept: ++t.kept; break;
        case TileStatus::None: ++t.none; break;
        case TileStatus::Failed: ++t.failed; break;
        case TileStatus::Killed: ++t.killed; break;
        }
        if (r.tally) {
            t.pointsKept += r.tally->kept;
            t.points += r.tally->kept + r.tally->notKept + r.tally->nodata + r.tally->outside;
        }
    }
    return t;
}

}  // namespace batch
