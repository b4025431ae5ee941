// What an output name stands for, resolved once: links followed, the file
// pinned, compared with the inputs, opened again for writing, and locked.
#include "run/output_target.h"

#include "test_files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>

using namespace morvane;

using namespace test_support;

namespace {

namespace fs = std::filesystem;

TEST(OutputTarget, DirectoryOf)
{
    const struct {
        const char *path, *directory;
    } rows[] = {{"out.las", "."}, {"/out.las", "/"}, {"a/b/out.las", "a/b"}, {"./out.las", "."}};
    for (const auto &row : rows)
        EXPECT_EQ(directoryOf(row.path), row.directory) << row.path;
}

// Each row lays out links under a fresh directory and names the output.
TEST(OutputTarget, FollowsLinksToTheFinalTarget)
{
    const struct {
        const char *name;
        std::vector<std::pair<std::string, std::string>> links;  // link -> what it holds
        const char *output;
        const char *path;  // expected, relative to the directory
        bool exists;
    } rows[] = {
        {"PlainName", {}, "out.las", "out.las", true},
        {"RelativeLinkInASubdirectory",
         {{"sub/out.las", "../real/target.las"}},
         "sub/out.las",
         "sub/../real/target.las",
         true},
        {"ChainOfLinks", {{"a.las", "b.las"}, {"b.las", "real/target.las"}}, "a.las", "real/target.las", true},
        {"DanglingLink", {{"new.las", "real/missing.las"}}, "new.las", "real/missing.las", false},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        fs::create_directories(dir / "real");
        fs::create_directories(dir / "sub");
        writeFile(dir / "out.las", "x");
        writeFile(dir / "real/target.las", "x");
        for (const auto &[link, to] : row.links)
            fs::create_symlink(to, dir / link);
        const OutputTarget target(dir / row.output);
        EXPECT_EQ(target.resolveError(), 0);
        EXPECT_EQ(target.path(), dir / row.path);
        EXPECT_EQ(target.exists(), row.exists);
    }
}

TEST(OutputTarget, LoopOfLinksIsKeptAsItsError)
{
    TempDir dir;
    fs::create_symlink("b.las", dir / "a.las");
    fs::create_symlink("a.las", dir / "b.las");
    const OutputTarget target(dir / "a.las");
    EXPECT_EQ(target.resolveError(), ELOOP);
    EXPECT_FALSE(target.exists());
}

TEST(OutputTarget, SameFileAsAnyNameOfIt)
{
    TempDir dir;
    writeFile(dir / "out.las", "x");
    writeFile(dir / "other.las", "x");
    fs::create_hard_link(dir / "out.las", dir / "hard.las");
    fs::create_symlink("out.las", dir / "soft.las");
    const OutputTarget target(dir / "out.las");
    EXPECT_TRUE(target.sameFileAs((dir / "out.las").c_str()));
    EXPECT_TRUE(target.sameFileAs((dir / "./out.las").c_str()));
    EXPECT_TRUE(target.sameFileAs((dir / "hard.las").c_str()));
    EXPECT_TRUE(target.sameFileAs((dir / "soft.las").c_str()));
    EXPECT_FALSE(target.sameFileAs((dir / "other.las").c_str()));
    // A target still to be made is only its own name.
    const OutputTarget fresh(dir / "new.las");
    EXPECT_TRUE(fresh.sameFileAs((dir / "new.las").c_str()));
    EXPECT_FALSE(fresh.sameFileAs((dir / "other.las").c_str()));
}

// The file checked at the start is the file written, untouched until then;
// once removed it is not written at all.
TEST(OutputTarget, OpensThePinnedFileForWriting)
{
    TempDir dir;
    writeFile(dir / "out.las", "earlier");
    const OutputTarget target(dir / "out.las");
    const int fd = target.openForWriting();
    ASSERT_GE(fd, 0);
    EXPECT_EQ(readFile(dir / "out.las"), "earlier");
    EXPECT_EQ(::write(fd, "E", 1), 1);
    ::close(fd);
    EXPECT_EQ(readFile(dir / "out.las"), "Earlier");

    fs::remove(dir / "out.las");
    writeFile(dir / "out.las", "another file under the name");
    errno = 0;
    EXPECT_EQ(target.openForWriting(), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(readFile(dir / "out.las"), "another file under the name");

    const OutputTarget fresh(dir / "new.las");
    EXPECT_EQ(fresh.openForWriting(), -1);
}

// A second writer waits while the first holds the file.
TEST(OutputTarget, LockExcludesOtherWriters)
{
    TempDir dir;
    writeFile(dir / "out.las", "x");
    const OutputTarget target(dir / "out.las");
    const int first = target.openForWriting();
    const int second = target.openForWriting();
    ASSERT_GE(first, 0);
    ASSERT_GE(second, 0);
    lockForWriting(first);
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    EXPECT_NE(::fcntl(second, F_OFD_SETLK, &whole), 0);
    ::close(first);
    EXPECT_EQ(::fcntl(second, F_OFD_SETLK, &whole), 0);
    ::close(second);
}

}  // namespace
