// The form every file name of the tools must have (more than four
// characters, with a dot fourth from the end), and the names derived from it.
#ifndef LIDAR_NAME_FORM_H
#define LIDAR_NAME_FORM_H

#include <cstdint>
#include <cstdio>
#include <string>
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

// Whether the name ends in the three letters `ext` (case-sensitive); the
// dot before them is the form check's business.
inline bool has_extension(std::string_view name, std::string_view ext)
{
    return name.size() >= 4 && name.substr(name.size() - 3) == ext;
}

// The .hdr beside a binary float grid: the grid's name without its last
// four characters (".flt"), followed by ".hdr".
inline std::string companion_header_name(std::string_view fltName)
{
    return std::string(fltName.substr(0, fltName.size() >= 4 ? fltName.size() - 4 : 0)) + ".hdr";
}

}  // namespace lidar

#endif
