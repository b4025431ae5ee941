// Console texts of a run: the fixed texts the tests compare with, golden
// transcripts of whole runs, and the tally read back.
#ifndef TESTS_SUPPORT_CONSOLE_TEXT_H
#define TESTS_SUPPORT_CONSOLE_TEXT_H

#include "test_files.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <regex>
#include <string>
#include <vector>

namespace test_support {

// A message as printed for a file: every "%s" of the format replaced by
// the name.
inline std::string withName(const std::string &format, const std::string &name)
{
    std::string out;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format.compare(i, 2, "%s") == 0) {
            out += name;
            ++i;
        } else {
            out += format[i];
        }
    }
    return out;
}

inline std::string bannerText()
{
    return "\nQuillon LiDAR Utilities"
           "\n\nDeveloped and maintained by the Morvane maintainers"
           "\nThe Morvane project, Quillon LiDAR Utilities"
           "\nManual: man Morvane"
           "\n\n** No warranty regarding script behavior is given or implied **"
           "\n** Acknowledging the author's efforts ensures script updates and availability **\n";
}

inline std::string usageText()
{
    return "\nUsage:\n"
           "Morvane <Raster file (.flt or .asc)> <Input LAS> <Output LAS>\n"
           "                     <Minimum elevation value relative to raster cell value>\n"
           "                     <Maximum elevation value relative to raster cell value>\n\n";
}

#ifdef MORVANE_SOURCE_DIR
// The console of a reviewed run, timing masked, kept in
// tests/fixtures/transcripts/<name>.txt: progress lines are compared with
// what was checked by eye once, never with a second computation of them.
// MORVANE_WRITE_TRANSCRIPTS=1 rewrites the files from `actual`; review the
// diff before committing it.
inline std::string goldenTranscript(const std::string &name, const std::string &actual)
{
    const std::string path = std::string(MORVANE_SOURCE_DIR) + "/tests/fixtures/transcripts/" + name + ".txt";
    if (std::getenv("MORVANE_WRITE_TRANSCRIPTS") != nullptr)
        writeFile(path, actual);
    return readFile(path);
}
#endif

// The four counts of the tally a run prints.
struct PrintedTally {
    uint32_t meet = 0, doNot = 0, nodata = 0, outside = 0;
    bool operator==(const PrintedTally &) const = default;
};

inline std::ostream &operator<<(std::ostream &os, const PrintedTally &t)
{
    return os << "{meet " << t.meet << ", do not " << t.doNot << ", NODATA " << t.nodata << ", outside " << t.outside
              << "}";
}

// One tally line as printed: its count and its percentage text.
struct TallyLine {
    uint32_t count = 0;
    std::string percent;
};

// Reads the tally lines of a console transcript into t; returns them in the
// order printed.
inline std::vector<TallyLine> readTally(const std::string &console, PrintedTally &t)
{
    static const std::regex kLine(
        R"(([0-9]+) points \( ([-0-9.a-z]+)% of input\) (meet selection criteria|do not|on NODATA raster cells|outside the raster))");
    std::vector<TallyLine> lines;
    for (std::sregex_iterator it(console.begin(), console.end(), kLine), end; it != end; ++it) {
        const auto count = static_cast<uint32_t>(std::stoul((*it)[1]));
        const std::string what = (*it)[3];
        uint32_t &slot = what == "meet selection criteria"  ? t.meet
                         : what == "do not"                 ? t.doNot
                         : what == "on NODATA raster cells" ? t.nodata
                                                            : t.outside;
        slot = count;
        lines.push_back({count, (*it)[2]});
    }
    return lines;
}

}  // namespace test_support

#endif
