// What an output name stands for, resolved once: links followed, the file
// pinned, compared with the inputs, opened again for writing, and locked.
#include "run/output_target.h"

#include "test_files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <linux/magic.h>
#include <sys/mman.h>
#include <sys/statfs.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

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

// Pages of `path` in the page cache, of its first `bytes`.
size_t cachedPages(const std::string &path, size_t bytes)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    void *map = ::mmap(nullptr, bytes, PROT_READ, MAP_SHARED, fd, 0);
    ::close(fd);
    const size_t pageSize = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    std::vector<unsigned char> resident((bytes + pageSize - 1) / pageSize);
    size_t count = 0;
    if (map != MAP_FAILED && ::mincore(map, bytes, resident.data()) == 0)
        for (const unsigned char r : resident)
            count += r & 1u;
    if (map != MAP_FAILED)
        ::munmap(map, bytes);
    return count;
}

// An old output written back to disk leaves the cache; one written in the
// last half minute may still hold pages to write and keeps them; its bytes
// stay in either case.
TEST(OutputTarget, DropsTheCachedPagesOfAnOldOutputOnly)
{
    TempDir dir;
    constexpr size_t kBytes = size_t{4} << 20;
    const std::string bytes(kBytes, 'p');
    const struct {
        const char *label;
        time_t age;
        bool dropped;
    } rows[] = {{"written an hour ago", 3600, true}, {"written a minute ago", 60, true}, {"written now", 0, false}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.label);
        const std::string path = dir / "out.las";
        writeFile(path, bytes);
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::fsync(fd), 0);
        std::string back(kBytes, '\0');
        ASSERT_EQ(::read(fd, back.data(), kBytes), static_cast<ssize_t>(kBytes));  // cached again
        ::close(fd);
        timespec times[2] = {{::time(nullptr) - row.age, 0}, {::time(nullptr) - row.age, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
        const size_t before = cachedPages(path, kBytes);
        struct statfs fs {};
        if (before == 0 || (::statfs(path.c_str(), &fs) == 0 && fs.f_type == TMPFS_MAGIC))
            GTEST_SKIP() << "this file system keeps no pages that can be let go";
        OutputTarget(path).dropCachedPages();
        const size_t after = cachedPages(path, kBytes);
        if (row.dropped)
            EXPECT_EQ(after, 0u) << "of " << before;
        else
            EXPECT_EQ(after, before);
        EXPECT_EQ(readFile(path), bytes);
    }
}

}  // namespace
