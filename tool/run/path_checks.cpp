#include "run/path_checks.h"

#include "LiDAR.h"
#include "run_failure.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>

namespace {

// Same path, or the same existing file reached another way (link, ./, ..).
bool sameFile(const char *a, const char *b)
{
    if (std::strcmp(a, b) == 0)
        return true;
    struct stat sa = {};
    struct stat sb = {};
    return ::stat(a, &sa) == 0 && ::stat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

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

void refuseSpecialOutput(const char *name)
{
    mode_t mode = 0;
    if (modeOf(name, mode) && !S_ISREG(mode)) {
        failRun("\nOutput file %s is not a regular file\n", name);
    }
}

void refuseOverwritingInputs(const char *raster, const std::optional<GridFile> &grid, const char *input,
                             const char *output)
{
    std::string guarded[] = {input, raster, ""};
    if (grid && !grid->ascii)
        guarded[2] = grid->header;
    for (const std::string &name : guarded) {
        if (!name.empty() && sameFile(name.c_str(), output)) {
            error_msg(3, output);
            failRun();
        }
    }
}
