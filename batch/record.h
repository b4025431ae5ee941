// A finished tile's record: how its run ended, its tally, and what it was
// made from, so that a later run knows whether the tile is done. One small
// text file per tile beside its output, written whole and renamed into place,
// so that processes on several machines can share the output folder.
#ifndef BATCH_RECORD_H
#define BATCH_RECORD_H

#include "file_system.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace batch {

// What a run of a tile depends on. Limits are kept as their values ("2" and
// "2.0" are one limit), printed exactly.
struct RunInputs {
    std::string morvaneVersion;
    std::string raster;  // the path as given
    FileStamp rasterStamp;
    FileStamp rasterHeaderStamp;  // a .flt's .hdr; none for an .asc
    std::string low, high;
    FileStamp tileStamp;
    bool operator==(const RunInputs &) const = default;
};

enum class TileStatus { Kept, None, Failed, Killed };

// The four lines of Morvane's tally.
struct Tally {
    uint64_t kept = 0, notKept = 0, nodata = 0, outside = 0;
    bool operator==(const Tally &) const = default;
};

struct Record {
    std::string tile;  // rel
    RunInputs inputs;
    TileStatus status = TileStatus::Failed;
    int exitStatus = 255;        // Morvane's, or 128 + the signal that ended it
    std::optional<Tally> tally;  // where the run reached it
    double seconds = 0;          // wall time of the run
    bool operator==(const Record &) const = default;
};

// The status an exit status stands for: 0 kept, 1 none, 128 + n killed
// (when a signal ended the run), anything else failed.
TileStatus statusOf(int exitStatus, bool endedBySignal);
std::string_view statusName(TileStatus status);

std::string formatRecord(const Record &record);
// Nothing for a text that is not a whole record of this format.
std::optional<Record> parseRecord(std::string_view text);

// A tile whose record says it finished (kept or none) from these very inputs
// need not run again.
bool finishedFrom(const Record &record, const RunInputs &inputs);

// A limit as a record keeps it: the value read as Morvane reads it.
std::string limitValue(const std::string &text);

// A path or name as one field of a record line: bytes that would break a
// line or a field (control characters, the space, the percent sign) as %XX,
// every other byte, UTF-8 or not, as it is; and back (nothing for a field
// that is not so written).
std::string escape(std::string_view text);
std::optional<std::string> unescape(std::string_view text);

// A file's stamp as records write it, "<size> <mtime in ns>", and back.
std::string stampText(const FileStamp &stamp);
bool parseStamp(std::string_view text, FileStamp &stamp);

// Where the record of a tile lies: beside its output.
constexpr std::string_view kRecordSuffix = ".record";

}  // namespace batch

#endif
