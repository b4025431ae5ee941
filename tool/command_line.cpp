#include "command_line.h"

#include <cstdio>
#include <cstring>

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
    const size_t len = std::strlen(filename);
    if (len <= 4) {
        std::printf("\nFile name (%s) is too short\n", filename);
        return -1;
    }
    if (filename[len - 4] != '.') {
        std::printf("\nExtension of file %s should be preceeded by a dot (.)\n", filename);
        return -1;
    }
    return 0;
}
