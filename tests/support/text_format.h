// printf into a std::string, for numbers that tests write as text.
#ifndef TESTS_SUPPORT_TEXT_FORMAT_H
#define TESTS_SUPPORT_TEXT_FORMAT_H

#include <cstdarg>
#include <cstdio>
#include <string>

namespace test_support {

__attribute__((format(printf, 1, 2))) inline std::string format(const char *fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, fmt, args);
    va_end(args);
    std::string out(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    std::vsnprintf(out.data(), out.size() + 1, fmt, again);
    va_end(again);
    return out;
}

// Every digit a double needs to be read back as itself.
inline std::string exactDecimal(double v)
{
    return format("%.17g", v);
}

}  // namespace test_support

#endif
