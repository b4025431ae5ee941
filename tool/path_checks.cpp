#include "path_checks.h"

#include "LiDAR.h"
#include "name_form.h"
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
        std::printf("\nInput file %s is not a regular file\n", name);
        failRun();
    }
}

void refuseSpecialOutput(const char *name)
{
    mode_t mode = 0;
    if (modeOf(name, mode) && !S_ISREG(mode)) {
        std::printf("\nOutput file %s is not a regular file\n", name);
        failRun();
    }
}

void refuseOverwritingInputs(const char *raster, const char *input, const char *output)
{
    std::string guarded[] = {input, raster, ""};
    if (lidar::has_extension(raster, "flt"))
        guarded[2] = lidar::companion_header_name(raster);
    for (const std::string &name : guarded) {
        if (!name.empty() && sameFile(name.c_str(), output)) {
            error_msg(3, output);
            failRun();
        }
    }
}
