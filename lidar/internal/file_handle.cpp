#include "lidar/internal/file_handle.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace lidar {

namespace {

// Clears O_NONBLOCK on a descriptor that is kept; -1 (the descriptor closed)
// when that fails.
int keepBlocking(int fd)
{
    const int status = ::fcntl(fd, F_GETFL);
    if (status >= 0 && ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) == 0)
        return fd;
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
}

// A regular file that another process holds a lease on (an SMB oplock, an
// NFS delegation) refuses a non-blocking open with EWOULDBLOCK. A plain open
// waits until the holder lets go; so does this one, for a regular file only:
// the file is pinned with O_PATH (which never blocks) and, once seen to be
// regular, opened again as pinned.
int openLeasedRegularFile(const char *name, int flags)
{
    const int pinned = ::open(name, O_PATH | O_CLOEXEC);
    if (pinned < 0)
        return -1;
    struct stat seen {};
    int fd = -1;
    if (::fstat(pinned, &seen) == 0) {
        if (S_ISREG(seen.st_mode))
            fd = reopen_pinned(pinned, name, seen, flags, ENXIO);
        else
            errno = ENXIO;
    }
    const int error = errno;
    ::close(pinned);
    errno = error;
    return fd;
}

}  // namespace

int reopen_pinned(int pinned, const char *name, const struct stat &seen, int flags, int replacedError)
{
    const std::string self = "/proc/self/fd/" + std::to_string(pinned);
    int fd = ::open(self.c_str(), flags);
    if (fd < 0 && errno == ENOENT) {
        // No /proc: by name, never waiting on what may have been swapped in,
        // but waiting, as a plain open does, on a lease.
        fd = ::open(name, flags | O_NONBLOCK);
        if (fd < 0 && errno == EWOULDBLOCK)
            fd = ::open(name, flags);
    }
    if (fd < 0)
        return -1;
    struct stat opened {};
    if (::fstat(fd, &opened) != 0 || opened.st_dev != seen.st_dev || opened.st_ino != seen.st_ino) {
        ::close(fd);
        errno = replacedError;
        return -1;
    }
    return keepBlocking(fd);
}

int open_without_blocking(const char *name, int flags)
{
    flags |= O_NOCTTY | O_CLOEXEC;
    // O_NONBLOCK lets a FIFO without a writer open at once, so that its
    // kind can be seen; it is cleared again for a file that is kept.
    const int fd = ::open(name, flags | O_NONBLOCK);
    if (fd < 0)
        return errno == EWOULDBLOCK ? openLeasedRegularFile(name, flags) : -1;
    struct stat st {};
    const int error = ::fstat(fd, &st) != 0 ? errno : !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode) ? ENXIO : 0;
    if (error != 0) {
        ::close(fd);
        errno = error;
        return -1;
    }
    return keepBlocking(fd);
}

FilePtr open_file(const char *name, const char *mode)
{
    const bool update = std::strchr(mode, '+') != nullptr;
    const int fd = open_without_blocking(name, update ? O_RDWR : O_RDONLY);
    if (fd < 0)
        return nullptr;
    std::FILE *file = ::fdopen(fd, mode);
    if (file == nullptr)
        ::close(fd);
    return FilePtr(file);
}

}  // namespace lidar
