// Numeric arguments of the tools. The form one must have: digits, at most one
// dot and at most one dash, and not a lone dot or dash. Where the dot and the
// dash stand is deliberately not judged; the value is read with atof.
#ifndef LIDAR_NUMERIC_ARGUMENT_H
#define LIDAR_NUMERIC_ARGUMENT_H

#include <cstddef>
#include <cstdio>
#include <string_view>

namespace lidar {

// An empty text passes, as check_numeric_argument lets it.
inline bool is_numeric_argument(std::string_view text)
{
    size_t dots = 0;
    size_t dashes = 0;
    for (const char c : text) {
        if (c == '.')
            ++dots;
        else if (c == '-')
            ++dashes;
        else if (c < '0' || c > '9')
            return false;
    }
    return dots <= 1 && dashes <= 1 && !(text.size() == 1 && dots + dashes == 1);
}

// The refusal of a command-line value that is no plain decimal number, as
// check_numeric_argument prints it; a tool that refuses more than that
// check prints the same line.
inline void print_invalid_argument(const char *text)
{
    std::printf("\nInvalid argument value (%s)\n", text);
}

}  // namespace lidar

#endif
