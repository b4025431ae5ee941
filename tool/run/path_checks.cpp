#include "run/path_checks.h"

#include "LiDAR.h"
#include "run_failure.h"

#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace morvane {

namespace {

// The mode of what a name stands for, links followed; false when nothing is there.
bool modeOf(const char *name, mode_t &mode)
{
    struct stat st {};
    if (::stat(name, &st) != 0)
        return false;
    mode = st.st_mode;
    return true;
}

}  // namespace

void refuseSpecialInput(const char *name)
{
    mode_t mode = 0;
    if (modeOf(name, mode) && !S_ISREG(mode) && !S_ISDIR(mode)) {
        failRun("\nInput file %s is not a regular file\n", name);
    }
}

void refuseSpecialOutput(const OutputTarget &output)
{
    if (output.exists() && !S_ISREG(output.status().st_mode)) {
        failRun("\nOutput file %s is not a regular file\n", output.name().c_str());
    }
}

void refuseOverwritingInputs(const GridFile &grid, const char *input, const OutputTarget &output)
{
    std::vector<std::string> guarded = grid.files();
    guarded.insert(guarded.begin(), input);
    for (const std::string &name : guarded) {
        if (output.sameFileAs(name.c_str())) {
            error_msg(3, output.name().c_str());
            failRun();
        }
    }
}

}  // namespace morvane
