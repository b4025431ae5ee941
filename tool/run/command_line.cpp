#include "run/command_line.h"

#include "LiDAR.h"
#include "lidar/internal/name_form.h"
#include "lidar/internal/numeric_argument.h"
#include "run_failure.h"

#include <cstdio>

namespace morvane {

void usage()
{
    std::puts("\nUsage:");
    std::puts("Morvane <Raster file (.flt or .asc)> <Input LAS> <Output LAS>");
    std::puts("                     <Minimum elevation value relative to raster cell value>");
    std::puts("                     <Maximum elevation value relative to raster cell value>\n");
}

int16_t checkNameForm(const char *filename)
{
    return lidar::check_name_form(filename);
}

int16_t checkExtension(const char *filename, const char *extension)
{
    return check_file_extension(filename, extension);
}

void checkLimit(const char *text)
{
    if (*text == '\0') {
        lidar::print_invalid_argument(text);
        failRun();
    }
    check_numeric_argument(text);
}

}  // namespace morvane
