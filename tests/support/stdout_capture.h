// Capturing what code under test writes to standard output.
#ifndef TESTS_SUPPORT_STDOUT_CAPTURE_H
#define TESTS_SUPPORT_STDOUT_CAPTURE_H

#include "test_files.h"

#include <unistd.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace test_support {

// Runs fn with file descriptor 1 pointing at a temporary file and returns
// every byte written to stdout meanwhile, whether by stdio or by write(2).
template <typename Fn>
std::string capture_stdout(Fn &&fn)
{
    std::fflush(stdout);
    std::FILE *sink = std::tmpfile();
    if (sink == nullptr)
        throw std::runtime_error("tmpfile failed");
    const int saved = ::dup(1);
    if (saved < 0 || ::dup2(::fileno(sink), 1) < 0) {
        std::fclose(sink);
        throw std::runtime_error("cannot redirect stdout");
    }
    struct Restore {
        int saved;
        ~Restore()
        {
            std::fflush(stdout);
            ::dup2(saved, 1);
            ::close(saved);
        }
    };
    {
        Restore restore{saved};
        std::forward<Fn>(fn)();
    }
    std::rewind(sink);
    std::string out = readRest(sink);
    std::fclose(sink);
    return out;
}

// For the statement of a death test: the child's stdout joins its stderr,
// which is what the death-test matcher sees. Anything already buffered goes
// to the old stdout first so it cannot pollute the match.
inline void stdout_to_stderr()
{
    std::fflush(stdout);
    ::dup2(2, 1);
}

// A POSIX extended regular expression matching exactly `text`.
inline std::string exact_regex(std::string_view text)
{
    std::string re = "^";
    for (const char c : text) {
        if (std::string_view(".[]{}()\\*+?|^$").find(c) != std::string_view::npos)
            re += '\\';
        re += c;
    }
    re += '$';
    return re;
}

}  // namespace test_support

#endif
