// morvane-batch's command line: morvane-batch [OPTIONS] RASTER TILES OUTDIR MIN MAX
#ifndef BATCH_COMMAND_LINE_H
#define BATCH_COMMAND_LINE_H

#include <cstdint>
#include <string>
#include <string_view>

namespace batch {

struct Options {
    std::string raster, tiles, outdir, low, high;
    unsigned jobs = 0;                        // 0: the processors this process may use
    uint32_t shareIndex = 0, shareCount = 1;  // --shard K/N is share K - 1 of N
    bool force = false;
    bool summaryOnly = false;
    bool quiet = false;
    std::string morvane;  // empty: Morvane beside this program
};

enum class Request { Run, Help, Version, UsageError };

struct CommandLine {
    Request request = Request::UsageError;
    Options options;
    std::string error;  // for a usage error
};

CommandLine parseCommandLine(int argc, const char *const *argv);

std::string_view usageLine();
std::string_view helpText();

}  // namespace batch

#endif
