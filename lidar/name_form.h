// The form every file name of the tools must have: more than four
// characters, with a dot fourth from the end. Prints why not.
#ifndef LIDAR_NAME_FORM_H
#define LIDAR_NAME_FORM_H

#include <cstdint>
#include <cstdio>
#include <string_view>

namespace lidar {

inline int16_t check_name_form(const char *filename)
{
    const std::string_view name(filename);
    if (name.size() <= 4) {
        std::printf("\nFile name (%s) is too short\n", filename);
        return -1;
    }
    if (name[name.size() - 4] != '.') {
        std::printf("\nExtension of file %s should be preceeded by a dot (.)\n", filename);
        return -1;
    }
    return 0;
}

}  // namespace lidar

#endif
