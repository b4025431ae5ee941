// What the output's name stands for, resolved once at the start of a run
// and handed on: the path checks judge it, the output file writes beside it
// or into it. Its file (where one exists) is pinned by a descriptor that
// opens nothing, so that what was checked is what is written, even if the
// name is made to point elsewhere during the run.
#ifndef MORVANE_OUTPUT_TARGET_H
#define MORVANE_OUTPUT_TARGET_H

#include <string>
#include <sys/stat.h>

namespace morvane {

class OutputTarget {
public:
    // Follows symbolic links from `name` to the file it finally stands for
    // (which need not exist). Never fails: a loop of links is kept as the
    // error that opening the output reports.
    explicit OutputTarget(std::string name);
    ~OutputTarget();
    OutputTarget(const OutputTarget &) = delete;
    OutputTarget &operator=(const OutputTarget &) = delete;

    const std::string &name() const { return name_; }   // as the user gave it
    const std::string &path() const { return path_; }   // the final target
    int resolveError() const { return resolveError_; }  // 0, or ELOOP
    bool exists() const { return pinned_ >= 0; }
    const struct stat &status() const { return status_; }  // when it exists
    bool sameFileAs(const char *other) const;

    // The pinned file opened for writing, unchanged (not emptied): the file
    // that was checked, never what the name may point to now. -1 and errno
    // when it cannot be (no longer linked: ENOENT).
    int openForWriting() const;
    // Lets the file's cached pages go, its bytes staying where they are,
    // where it was last written long enough ago for them all to be on disk.
    void dropCachedPages() const;

private:
    std::string name_;
    std::string path_;
    int resolveError_ = 0;
    int pinned_ = -1;
    struct stat status_ {};
};

// The parent directory of a path as written ("." for a bare name).
std::string directoryOf(const std::string &path);

// Waits for and takes an exclusive lock on the whole file: runs that write
// one file in place exclude each other. Released when the descriptor is
// closed. Where the file system keeps no locks, goes on unlocked.
void lockForWriting(int fd);

}  // namespace morvane

#endif
