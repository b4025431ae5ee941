// Start-up checks shared by the tool family, and the console banner.
#include "LiDAR.h"
#include "name_form.h"
#include "numeric_argument.h"
#include "process_exit.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

[[noreturn]] void refuse_numeric(const char *str)
{
    lidar::print_invalid_argument(str);
    lidar::process_exit(-1);
}

bool numeric_char(char c)
{
    return (c >= '0' && c <= '9') || c == '.' || c == '-';
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

// Where the dot and the dash stand is deliberately not checked; counters are
// size_t so that arguments of any length are judged correctly.
void check_numeric_argument(const char *str)
{
    if (str == nullptr)
        refuse_numeric("");  // unlike an empty text, no argument at all
    const size_t len = std::strlen(str);
    size_t ndots = 0;
    size_t ndashes = 0;
    for (size_t k = 0; k < len; ++k) {
        if (!numeric_char(str[k]))
            refuse_numeric(str);
        if (str[k] == '.')
            ++ndots;
        else if (str[k] == '-')
            ++ndashes;
    }
    if (len == 0)
        return;
    if (ndots > 1 || ndashes > 1 || (len == 1 && ndots + ndashes == 1))
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
