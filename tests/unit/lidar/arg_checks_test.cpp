// Start-up checks and banner: exact console bytes, and which arguments end
// the process.
#include "LiDAR.h"
#include "stdout_capture.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using test_support::capture_stdout;
using test_support::stdout_to_stderr;

// Death tests see the child's stderr; the checks print to stdout, so the
// child joins the two and the whole output must equal `text`.
::testing::Matcher<const std::string &> prints(const std::string &text)
{
    return ::testing::Eq(text);
}

const auto kRefused = ::testing::ExitedWithCode(255);  // exit(-1)
const auto kReturned = ::testing::ExitedWithCode(0);

// Accepting checks also run in a child, so a wrongful refusal fails the
// case instead of ending the whole test run.
#define EXPECT_RETURNS_PRINTING(call, text) \
    EXPECT_EXIT(                            \
        {                                   \
            stdout_to_stderr();             \
            call;                           \
            std::fflush(stdout);            \
            std::_Exit(0);                  \
        },                                  \
        kReturned, prints(text))

// ---------------------------------------------------------------- banner

TEST(Credits, PrintsTheBannerExactly)
{
    const std::string banner = "\nQuillon LiDAR Utilities"
                               "\n"
                               "\nDeveloped and maintained by the Morvane maintainers"
                               "\nThe Morvane project, Quillon LiDAR Utilities"
                               "\nManual: man Morvane"
                               "\n"
                               "\n** No warranty regarding script behavior is given or implied **"
                               "\n** Acknowledging the author's efforts ensures script updates and availability **"
                               "\n";
    EXPECT_EQ(capture_stdout([] { credits(); }), banner);
}

// --------------------------------------------------- numeric arguments

std::string refusal(const std::string &arg)
{
    return "\nInvalid argument value (" + arg + ")\n";
}

TEST(CheckNumericArgument, AcceptedSilently)
{
    const std::vector<std::string> accepted = {
        "12.5",
        "-3",
        ".5",
        "5.",
        "-0.75",
        "007",
        "5",
        "0",
        // the positions of the dash and the dot are not judged
        "5-",
        "1-2",
        "-.",
        ".-",
        "1.-2",
        "",
        // longer than a 16-bit counter can hold
        std::string(100000, '7'),
        "-" + std::string(65536, '1'),  // 65537 characters: a 16-bit length would read 1
        std::string(70000, '4') + "." + std::string(70000, '2'),
    };
    for (const auto &arg : accepted) {
        SCOPED_TRACE(arg.size() > 40 ? "length " + std::to_string(arg.size()) : "'" + arg + "'");
        EXPECT_RETURNS_PRINTING(check_numeric_argument(arg.c_str()), "");
    }
}

TEST(CheckNumericArgument, RefusedWithMessageAndExit)
{
    const std::vector<std::string> refused = {
        ".",
        "-",
        "1.2.3",
        "--1",
        "+5",
        "1e3",
        "1,5",
        "1 5",
        " 1",
        "1 ",
        "0x10",
        "\t",
        "..",
        "1-2-3",
        "-1.5-",
        // 70000 characters: the second dot lies past what a 16-bit length reaches
        std::string(35000, '1') + "." + std::string(34998, '1') + ".",
        // 65536 characters: a 16-bit length would read 0 and skip every test
        std::string(65535, '1') + "e",
        // 65537 dots or dashes: a 16-bit count would read 1
        std::string(65537, '.'),
        std::string(65537, '-'),
    };
    for (const auto &arg : refused) {
        SCOPED_TRACE(arg.size() > 40 ? "length " + std::to_string(arg.size()) : "'" + arg + "'");
        EXPECT_EXIT(
            {
                stdout_to_stderr();
                check_numeric_argument(arg.c_str());
            },
            kRefused, prints(refusal(arg)));
    }
}

// ------------------------------------------------------------ Y/N flag

TEST(CheckYN, Table)
{
    const std::string message = "\nASCII Header Flag should be either Y (y) or N (n)\n";
    struct Case {
        const char *text;
        int16_t status;
        std::string output;
    };
    const Case cases[] = {
        {"Y", 0, ""},         {"N", 0, ""},         {"y", 0, ""},        {"n", 0, ""},
        {"yes", -1, message}, {"Yes", -1, message}, {"YN", -1, message}, {"0", -1, message},
        {"", -1, message},    {"Y ", -1, message},  {" n", -1, message}, {"x", -1, message},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string("'") + c.text + "'");
        int16_t status = 1;
        EXPECT_EQ(capture_stdout([&] { status = check_YN(c.text); }), c.output);
        EXPECT_EQ(status, c.status);
    }
}

// ------------------------------------------------------------ DEM names

const std::string kWrongExtension =
    "\nDEM file extension should be either '.asc' (ASCII) or '.flt' (floating point binary)\n";
const std::string kNoHeader = "\nFloating point binary DEM files also require a ASCII header file ('.hdr')\n";

std::string not_ext(const std::string &name, const char *ext)
{
    return "\nFile extension of " + name + " is not ." + ext + "\n";
}

std::string long_name(const std::string &extension)
{
    return std::string(200, 'd') + "." + extension;  // far past 79 characters
}

// Runs each case in a fresh, empty working directory so that relative names
// only meet the files a case creates.
class CheckDEM : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Forked children must inherit the directory and its files.
        GTEST_FLAG_SET(death_test_style, "fast");
        char pattern[] = "/tmp/lidar_check_dem_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
        char *here = ::getcwd(nullptr, 0);
        ASSERT_NE(here, nullptr);
        home_ = here;
        std::free(here);
        ASSERT_EQ(::chdir(dir_.c_str()), 0);
    }

    void TearDown() override
    {
        for (const auto &name : created_)
            std::remove(name.c_str());
        EXPECT_EQ(::chdir(home_.c_str()), 0);
        EXPECT_EQ(::rmdir(dir_.c_str()), 0);
    }

    void create(const std::string &name)
    {
        std::FILE *f = std::fopen(name.c_str(), "w");
        ASSERT_NE(f, nullptr) << name;
        std::fputs("ncols 1\n", f);
        std::fclose(f);
        created_.push_back(name);
    }

    std::string dir_;
    std::string home_;
    std::vector<std::string> created_;
};

TEST_F(CheckDEM, AcceptedNames)
{
    create("present.asc");
    create("dem.hdr");
    create("grid.flt");
    create("grid.hdr");
    create("a.b.hdr");
    create(long_name("hdr"));
    struct Case {
        std::string name;
        std::string output;
    };
    const Case cases[] = {
        {"dem.asc", not_ext("dem.asc", "flt")},  // the grid itself is never looked for
        {"present.asc", not_ext("present.asc", "flt")},
        {"dem.flt", not_ext("dem.flt", "asc")},  // only the companion must exist
        {"grid.flt", not_ext("grid.flt", "asc")},
        {"a.b.flt", not_ext("a.b.flt", "asc")},  // only the last four characters are replaced
        {long_name("flt"), not_ext(long_name("flt"), "asc")},
        {long_name("asc"), not_ext(long_name("asc"), "flt")},
        {dir_ + "/dem.flt", not_ext(dir_ + "/dem.flt", "asc")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_RETURNS_PRINTING(check_DEM(c.name.c_str()), c.output);
    }
}

TEST_F(CheckDEM, WrongExtensionEndsTheProcess)
{
    struct Case {
        std::string name;
        std::string output;
    };
    const std::string too_short = "\nFile name (dem) is too short\n";
    const std::string flt_short = "\nFile name (.flt) is too short\n";
    const std::string no_dot = "\nExtension of file demasc should be preceeded by a dot (.)\n";
    const Case cases[] = {
        {"dem.ASC", not_ext("dem.ASC", "asc") + not_ext("dem.ASC", "flt") + kWrongExtension},
        {"dem.FLT", not_ext("dem.FLT", "asc") + not_ext("dem.FLT", "flt") + kWrongExtension},
        {"dem.txt", not_ext("dem.txt", "asc") + not_ext("dem.txt", "flt") + kWrongExtension},
        {"dem", too_short + too_short + kWrongExtension},
        {".flt", flt_short + flt_short + kWrongExtension},
        {"demasc", no_dot + no_dot + kWrongExtension},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EXIT(
            {
                stdout_to_stderr();
                check_DEM(c.name.c_str());
            },
            kRefused, prints(c.output));
    }
}

TEST_F(CheckDEM, FloatGridWithoutHeaderEndsTheProcess)
{
    create("dem.flt");  // the grid alone is not enough
    create("dem.HDR");  // nor a companion of another case
    create("other.hdr");
    struct Case {
        std::string name;
        std::string companion;
    };
    const Case cases[] = {
        {"dem.flt", "dem.hdr"},
        {"missing.flt", "missing.hdr"},
        {long_name("flt"), long_name("hdr")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string output = not_ext(c.name, "asc") + "Unable to open file " + c.companion +
                                   " in file_access()\n" + kNoHeader;
        EXPECT_EXIT(
            {
                stdout_to_stderr();
                check_DEM(c.name.c_str());
            },
            kRefused, prints(output));
    }
}

}  // namespace
