// The batch summed up: every record in the output folder, one CSV row per
// tile sorted by tile, and the totals.
#ifndef BATCH_SUMMARY_H
#define BATCH_SUMMARY_H

#include "record.h"

#include <string>
#include <vector>

namespace batch {

// The records under a folder (its temporary folders left out), sorted by tile.
std::vector<Record> collectRecords(const std::string &outdir);

// summary.csv's text: the header line, then one row per record.
std::string summaryCsv(const std::vector<Record> &records);

struct Totals {
    size_t kept = 0, none = 0, failed = 0, killed = 0;
    uint64_t pointsKept = 0, points = 0;
};
Totals totalsOf(const std::vector<Record> &records);

// A CSV field: quoted when it holds a comma, a quote or a line break.
std::string csvField(std::string_view text);

constexpr std::string_view kSummaryName = "summary.csv";
// The prefix of the folders that hold a run's temporary files.
constexpr std::string_view kTemporaryPrefix = ".morvane-batch-";

}  // namespace batch

#endif
