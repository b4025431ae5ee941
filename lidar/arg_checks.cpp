// Start-up checks shared by the tool family, and the console banner.
#include "LiDAR.h"
#include "lidar/internal/name_form.h"
#include "lidar/internal/numeric_argument.h"
#include "lidar/internal/process_exit.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

[[noreturn]] void refuse_numeric(const char *str)
{
    lidar::print_invalid_argument(str);
    lidar::process_exit(-1);
}

}  // namespace

extern "C" {

void credits(void)
{
    std::printf("\nQuillon LiDAR Utilities");
    std::printf("\n\nDeveloped and maintained by the Morvane maintainers");
    std::printf("\nThe Morvane project, Quillon LiDAR Utilities");
    std::printf("\nManual: man Morvane");
    std::printf("\n\n** No warranty regarding script behavior is given or implied **");
    std::puts("\n** Acknowledging the author's efforts ensures script updates and availability **");
}

// The form is is_numeric_argument's, shared with tools that judge a limit
// without ending the process; an empty text passes.
void check_numeric_argument(const char *str)
{
    if (str == nullptr)
        refuse_numeric("");  // unlike an empty text, no argument at all
    if (!lidar::is_numeric_argument(str))
        refuse_numeric(str);
}

int16_t check_YN(const char *text)
{
    if (text == nullptr)
        text = "";  // refused like an empty flag
    if (std::strcmp(text, "Y") == 0 || std::strcmp(text, "N") == 0 || std::strcmp(text, "y") == 0 ||
        std::strcmp(text, "n") == 0)
        return 0;
    std::puts("\nASCII Header Flag should be either Y (y) or N (n)");
    return -1;
}

// Only the .hdr companion of a .flt grid is looked for; the grid itself is
// opened later by whoever reads it.
void check_DEM(const char *str)
{
    if (str == nullptr)
        str = "";  // refused like an empty name
    if (check_file_extension(str, "asc") < 0 && check_file_extension(str, "flt") < 0) {
        std::puts("\nDEM file extension should be either '.asc' (ASCII) or '.flt' (floating point binary)");
        lidar::process_exit(-1);
    }
    if (check_file_extension(str, "flt") < 0)
        return;  // an .asc grid needs no companion

    if (file_access(lidar::companion_header_name(str).c_str()) < 0) {
        std::puts("\nFloating point binary DEM files also require a ASCII header file ('.hdr')");
        lidar::process_exit(-1);
    }
}

}  // extern "C"
