#include "run_failure.h"

#include <cstdarg>
#include <cstdio>

namespace morvane {

void failRun(const char *format, ...)
{
    std::va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    throw RunFailure{};
}

void failRun()
{
    throw RunFailure{};
}

}  // namespace morvane
