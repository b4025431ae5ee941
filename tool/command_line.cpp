#include "command_line.h"

#include "name_form.h"

#include <cstdio>

void usage()
{
    std::puts("\nUsage:");
    std::puts("Morvane <Raster file (.flt or .asc)> <Input LAS> <Output LAS>");
    std::puts("                     <Minimum elevation value relative to raster cell value>");
    std::puts("                     <Maximum elevation value relative to raster cell value>\n");
}

// The extension itself is compared later, by the loader or the LAS check
// that each name goes to; here only the form of the name is checked.
int16_t checkExtension(const char *filename, const char * /*extension*/)
{
    return lidar::check_name_form(filename);
}
