// NULL handed to each exported function: a NULL name or text is refused as
// an empty one (printed as nothing); initialisers and sorts do nothing.
#include "LiDAR.h"
#include "stdout_capture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using test_support::exact_regex;
using test_support::stdout_to_stderr;

// A sort given NULL for either array must touch neither array.
template <typename Key>
int sort_with_null(void (*sort)(Key *, int32_t, int32_t *))
{
    Key keys[] = {3, 1, 2};
    int32_t ind[] = {0, 1, 2};
    sort(keys, 3, nullptr);
    sort(nullptr, 3, ind);
    sort(nullptr, 3, nullptr);
    const bool untouched = keys[0] == 3 && keys[1] == 1 && keys[2] == 2 && ind[0] == 0 && ind[1] == 1 && ind[2] == 2;
    return untouched ? 0 : 1;
}

const std::string kNoFile = "Unable to open file  in file_access()\n\nFile  does NOT exist\n";
const std::string kTooShort = "\nFile name () is too short\n";

struct NullCase {
    const char *call;
    int (*run)();    // the call; its status, or 0 for a function without one
    int exitStatus;  // how the child ends: 255 for a status or an exit of -1
    std::string output;
};

// credits(), the twentieth function, takes no argument.
const NullCase kCases[] = {
    {"file_access", [] { return int{file_access(nullptr)}; }, 255, "Unable to open file  in file_access()\n"},
    {"check_file_extension name", [] { return int{check_file_extension(nullptr, "las")}; }, 255, kTooShort},
    {"check_file_extension extension", [] { return int{check_file_extension("a.las", nullptr)}; }, 255,
     "\nFile extension of a.las is not .\n"},
    {"error_msg",
     [] {
         error_msg(1, nullptr);
         return 0;
     },
     0, "\nFile  does NOT exist\n"},
    {"check_las", [] { return int{check_las(nullptr)}; }, 255, kNoFile},
    {"update_header",
     [] {
         update_header(nullptr);
         return 0;
     },
     255, kNoFile},
    {"initialize_header10",
     [] {
         initialize_header10(nullptr);
         return 0;
     },
     0, ""},
    {"initialize_header11",
     [] {
         initialize_header11(nullptr);
         return 0;
     },
     0, ""},
    {"initialize_header12",
     [] {
         initialize_header12(nullptr);
         return 0;
     },
     0, ""},
    {"check_numeric_argument",
     [] {
         check_numeric_argument(nullptr);
         return 0;
     },
     255, "\nInvalid argument value ()\n"},
    {"check_YN", [] { return int{check_YN(nullptr)}; }, 255, "\nASCII Header Flag should be either Y (y) or N (n)\n"},
    {"check_DEM",
     [] {
         check_DEM(nullptr);
         return 0;
     },
     255,
     kTooShort + kTooShort +
         "\nDEM file extension should be either '.asc' (ASCII) or '.flt' (floating point binary)\n"},
    {"l_qs", [] { return sort_with_null<int32_t>([](int32_t *p, int32_t n, int32_t *i) { l_qs(p, 0, n - 1, i); }); }, 0,
     ""},
    {"l_quicksort", [] { return sort_with_null<int32_t>(l_quicksort); }, 0, ""},
    {"d_qs", [] { return sort_with_null<double>([](double *p, int32_t n, int32_t *i) { d_qs(p, 0, n - 1, i); }); }, 0,
     ""},
    {"d_quicksort", [] { return sort_with_null<double>(d_quicksort); }, 0, ""},
    {"l_parallel_qs",
     [] {
         return sort_with_null<int32_t>([](int32_t *p, int32_t n, int32_t *i) { l_parallel_qs(p, 0, n - 1, i, 2); });
     },
     0, ""},
    {"l_parallel_quicksort", [] { return sort_with_null<int32_t>(l_parallel_quicksort); }, 0, ""},
    {"d_parallel_qs",
     [] { return sort_with_null<double>([](double *p, int32_t n, int32_t *i) { d_parallel_qs(p, 0, n - 1, i, 2); }); },
     0, ""},
    {"d_parallel_quicksort", [] { return sort_with_null<double>(d_parallel_quicksort); }, 0, ""},
};

// Each call runs in a child, so a crash or a wrongful exit fails only its case.
TEST(NullArguments, EveryExportedFunction)
{
    GTEST_FLAG_SET(death_test_style, "fast");
    for (const auto &c : kCases) {
        SCOPED_TRACE(c.call);
        EXPECT_EXIT(
            {
                stdout_to_stderr();
                const int status = c.run();
                std::fflush(stdout);
                std::_Exit(status & 0xFF);
            },
            ::testing::ExitedWithCode(c.exitStatus), exact_regex(c.output));
    }
}

}  // namespace
