// The refusal of a command-line value that is no plain decimal number, as
// check_numeric_argument prints it; a tool that refuses more than that
// check prints the same line.
#ifndef LIDAR_NUMERIC_ARGUMENT_H
#define LIDAR_NUMERIC_ARGUMENT_H

#include <cstdio>

namespace lidar {

inline void print_invalid_argument(const char *text)
{
    std::printf("\nInvalid argument value (%s)\n", text);
}

}  // namespace lidar

#endif
