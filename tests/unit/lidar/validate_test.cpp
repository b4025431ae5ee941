// check_las and its building blocks: result codes and exact console text.
#include "LiDAR.h"
#include "console_text.h"
#include "las_builder.h"
#include "stdout_capture.h"
#include "test_files.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include <string>
#include <vector>

using namespace test_support;

namespace {

std::string lasHeaderBytes(uint8_t major, uint8_t minor, uint8_t format, uint16_t length)
{
    LasSpec layout;
    layout.versionMinor = minor;
    layout.format = format;
    layout.recordLength = length;
    std::string h = buildHeader(layout, 0);
    h[24] = static_cast<char>(major);
    return h;
}

struct CheckCase {
    const char *label;
    std::string bytes;  // file content
    int16_t code;
    std::string message;  // with %s for the file name
};

TEST(CheckLas, DecidesVersionFormatAndRecordLength)
{
    const std::vector<CheckCase> cases = {
        {"1.0 format 0", lasHeaderBytes(1, 0, 0, 20), 1, ""},
        {"1.0 format 1", lasHeaderBytes(1, 0, 1, 28), 2, ""},
        {"1.1 format 0", lasHeaderBytes(1, 1, 0, 20), 3, ""},
        {"1.1 format 1", lasHeaderBytes(1, 1, 1, 28), 4, ""},
        {"1.2 format 0", lasHeaderBytes(1, 2, 0, 20), 5, ""},
        {"1.2 format 1", lasHeaderBytes(1, 2, 1, 28), 6, ""},
        {"1.2 format 2", lasHeaderBytes(1, 2, 2, 26), 7, ""},
        {"1.2 format 3", lasHeaderBytes(1, 2, 3, 34), 8, ""},
        {"1.0 format 3 any length", lasHeaderBytes(1, 0, 3, 99), 0, ""},
        {"1.1 format 2 any length", lasHeaderBytes(1, 1, 2, 0), 0, ""},
        {"1.2 format 1 length 30", lasHeaderBytes(1, 2, 1, 30), -1,
         "\nData format of %s (1) is incompatible with Length of Data Record (30)\n"},
        {"1.2 format 3 length 28", lasHeaderBytes(1, 2, 3, 28), -1,
         "\nData format of %s (3) is incompatible with Length of Data Record (28)\n"},
        {"1.0 format 0 length 28", lasHeaderBytes(1, 0, 0, 28), -1,
         "\nData format of %s (0) is incompatible with Length of Data Record (28)\n"},
        {"record length over 32767 prints unsigned", lasHeaderBytes(1, 2, 0, 65535), -1,
         "\nData format of %s (0) is incompatible with Length of Data Record (65535)\n"},
        {"version 2.0", lasHeaderBytes(2, 0, 0, 20), -1, "\nCannot handle las files of version 2.x\n"},
        {"version 1.3 with format 4: version first", lasHeaderBytes(1, 3, 4, 20), -1,
         "\nCannot handle las files of version 1.3\n"},
        {"minor 10 prints a colon", lasHeaderBytes(1, 10, 0, 20), -1, "\nCannot handle las files of version 1.:\n"},
        {"format 4", lasHeaderBytes(1, 2, 4, 20), -1,
         "\nPointDataFormatID in %s is 4. Only 0, 1, 2, or 3 is accepted\n"},
        {"lower-case signature", "LASf" + lasHeaderBytes(1, 2, 0, 20).substr(4), -1,
         "\n%s is not a valid .las file\n\n"},
        {"empty file", "", -1, "\n%s is not a valid .las file\n\n"},
        {"only the signature", "LASF", -1, "\n%s is not a valid .las file\n\n"},
        {"ends before the minor version", lasHeaderBytes(1, 2, 0, 20).substr(0, 25), -1,
         "\n%s is not a valid .las file\n\n"},
        {"ends before the format", lasHeaderBytes(1, 2, 0, 20).substr(0, 104), -1, "\n%s is not a valid .las file\n\n"},
        {"ends inside the record length", lasHeaderBytes(1, 0, 3, 20).substr(0, 106), -1,
         "\n%s is not a valid .las file\n\n"},
        {"107 bytes are enough", lasHeaderBytes(1, 2, 1, 28).substr(0, 107), 6, ""},
    };
    TempDir dir;
    const std::string name = dir / "points.las";
    for (const CheckCase &c : cases) {
        SCOPED_TRACE(c.label);
        writeFile(name, c.bytes);
        int16_t code = 99;
        const std::string out = capture_stdout([&] { code = check_las(name.c_str()); });
        EXPECT_EQ(code, c.code);
        EXPECT_EQ(out, withName(c.message, name));
    }
}

TEST(CheckLas, NameAndExistenceChecksComeFirst)
{
    TempDir dir;
    const std::string good = lasHeaderBytes(1, 2, 0, 20);
    writeFile(dir / "points.LAS", good);
    writeFile(dir / "points_las", good);
    writeFile(dir / "x.la", good);
    ::mkdir((dir / "folder.las").c_str(), 0755);
    const struct {
        std::string name;
        std::string message;
    } cases[] = {
        {dir / "missing.las", "Unable to open file %s in file_access()\n\nFile %s does NOT exist\n"},
        {dir / "missing_txt", "Unable to open file %s in file_access()\n\nFile %s does NOT exist\n"},
        // Under a path that is no folder: missing too.
        {dir / "points_las/x.las", "Unable to open file %s in file_access()\n\nFile %s does NOT exist\n"},
        {dir / "points.LAS", "\nFile extension of %s is not .las\n"},
        {dir / "points_las", "\nExtension of file %s should be preceeded by a dot (.)\n"},
        {dir / "folder.las", "\n%s is not a valid .las file\n\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        int16_t code = 0;
        const std::string out = capture_stdout([&] { code = check_las(c.name.c_str()); });
        EXPECT_EQ(code, -1);
        EXPECT_EQ(out, withName(c.message, c.name));
    }
    // A four-character name, relative to the directory.
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    int16_t code = 0;
    const std::string out = capture_stdout([&] { code = check_las("x.la"); });
    ASSERT_EQ(::chdir(cwd), 0);
    EXPECT_EQ(code, -1);
    EXPECT_EQ(out, "\nFile name (x.la) is too short\n");
}

// Permission does not bind root: check_las runs in a child that has become
// an ordinary user, and the test is skipped where the tests do not run as
// root. A file that is there but may not be opened says why.
TEST(CheckLas, SaysWhyAFileCannotBeOpened)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root, to check as an unprivileged user";
    constexpr uid_t kNobody = 65534;
    TempDir dir;
    std::filesystem::permissions(dir.path(), std::filesystem::perms(0755));
    writeFile(dir / "locked.las", lasHeaderBytes(1, 2, 0, 20));
    std::filesystem::permissions(dir / "locked.las", std::filesystem::perms::none);
    std::filesystem::create_directory(dir / "private");
    writeFile(dir / "private/points.las", lasHeaderBytes(1, 2, 0, 20));
    std::filesystem::permissions(dir / "private", std::filesystem::perms(0700));
    const struct {
        std::string name;
        std::string message;
    } cases[] = {
        {dir / "locked.las",
         "Unable to open file %s in file_access()\n\nFile %s cannot be opened: Permission denied\n"},
        {dir / "private/points.las",
         "Unable to open file %s in file_access()\n\nFile %s cannot be opened: Permission denied\n"},
        {dir / "missing.las", "Unable to open file %s in file_access()\n\nFile %s does NOT exist\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        int status = 0;
        const std::string out = capture_stdout([&] {
            const pid_t pid = ::fork();
            if (pid == 0) {
                if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
                    ::_exit(126);
                const int16_t code = check_las(c.name.c_str());
                std::fflush(stdout);
                ::_exit(code & 0xff);
            }
            ::waitpid(pid, &status, 0);
        });
        ASSERT_TRUE(WIFEXITED(status));
        if (WEXITSTATUS(status) == 126)
            GTEST_SKIP() << "cannot become an unprivileged user here";
        EXPECT_EQ(WEXITSTATUS(status), 255);
        EXPECT_EQ(out, withName(c.message, c.name));
    }
}

TEST(CheckFileExtension, FormAndCaseSensitiveComparison)
{
    const struct {
        const char *name;
        const char *extension;
        int16_t code;
        const char *message;
    } cases[] = {
        {"a.las", "las", 0, ""},
        {"a.las", ".las", -1, "\nFile extension of a.las is not ..las\n"},
        {"a.las", "la", -1, "\nFile extension of a.las is not .la\n"},
        {"dem.ASC", "asc", -1, "\nFile extension of dem.ASC is not .asc\n"},
        {"x.la", "las", -1, "\nFile name (x.la) is too short\n"},
        {"", "las", -1, "\nFile name () is too short\n"},
        {"demasc", "asc", -1, "\nExtension of file demasc should be preceeded by a dot (.)\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        int16_t code = 99;
        const std::string out = capture_stdout([&] { code = check_file_extension(c.name, c.extension); });
        EXPECT_EQ(code, c.code);
        EXPECT_EQ(out, c.message);
    }
}

TEST(ErrorMsg, KnownCodesOnly)
{
    const struct {
        int code;
        const char *message;
    } cases[] = {
        {0, ""},
        {1, "\nFile f.las does NOT exist\n"},
        {2, "\nFile f.las already exists\n"},
        {3, "\nSame file name (f.las) has been specified twice\n"},
        {4, ""},
        {-1, ""},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(capture_stdout([&] { error_msg(c.code, "f.las"); }), c.message) << c.code;
    }
}

TEST(FileAccess, OpensOrSays)
{
    TempDir dir;
    writeFile(dir / "here.txt", "x");
    EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(file_access((dir / "here.txt").c_str()), 0); }), "");
    const std::string missing = dir / "gone.txt";
    EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(file_access(missing.c_str()), -1); }),
              "Unable to open file " + missing + " in file_access()\n");
}

// A FIFO with no writer would block an ordinary open forever: each of these
// refuses it at once, as it refuses a file it cannot open.
TEST(SpecialFilesDeath, AFifoIsRefusedWithoutBlocking)
{
    GTEST_FLAG_SET(death_test_style, "fast");  // the child must see this temporary directory
    TempDir dir;
    const std::string fifo = dir / "pipe.las";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const struct {
        const char *label;
        int (*call)(const char *);
    } cases[] = {
        {"file_access", [](const char *name) { return int{file_access(name)}; }},
        {"check_las", [](const char *name) { return int{check_las(name)}; }},
        {"update_header",
         [](const char *name) {
             update_header(name);
             return 0;
         }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        // Killed by SIGALRM when it blocks.
        EXPECT_EXIT(
            {
                ::alarm(10);
                std::fflush(stdout);
                std::_Exit(c.call(fifo.c_str()) & 0xff);
            },
            ::testing::ExitedWithCode(255), "");
    }
}

}  // namespace
