#include "lidar/internal/file_handle.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace lidar {

namespace {

// A regular file that another process holds a lease on (an SMB oplock, an
// NFS delegation) refuses a non-blocking open with EWOULDBLOCK. A plain open
// waits until the holder lets go; so does this one, for a regular file only:
// the file is pinned with O_PATH (which never blocks) and, once seen to be
// regular, opened again through its /proc entry, so that nothing swapped in
// under the name can make the open block. Without /proc it is opened by name
// and kept only if it is still the file that was seen.
int openLeasedRegularFile(const char *name, int flags)
{
    const int pinned = ::open(name, O_PATH | O_CLOEXEC);
    if (pinned < 0)
        return -1;
    struct stat seen {};
    int fd = -1;
    int error = 0;
    if (::fstat(pinned, &seen) != 0) {
        error = errno;
    } else if (!S_ISREG(seen.st_mode)) {
        error = ENXIO;
    } else {
        const std::string self = "/proc/self/fd/" + std::to_string(pinned);
        fd = ::open(self.c_str(), flags);
        if (fd < 0 && errno == ENOENT)
            fd = ::open(name, flags);
        struct stat opened {};
        if (fd >= 0 && (::fstat(fd, &opened) != 0 || opened.st_dev != seen.st_dev || opened.st_ino != seen.st_ino)) {
            ::close(fd);
            fd = -1;
            errno = ENXIO;
        }
        error = fd < 0 ? errno : 0;
    }
    ::close(pinned);
    errno = error;
    return fd;
}

}  // namespace

int open_without_blocking(const char *name, int flags)
{
    flags |= O_NOCTTY | O_CLOEXEC;
    // O_NONBLOCK lets a FIFO without a writer open at once, so that its
    // kind can be seen; it is cleared again for a file that is kept.
    const int fd = ::open(name, flags | O_NONBLOCK);
    if (fd < 0)
        return errno == EWOULDBLOCK ? openLeasedRegularFile(name, flags) : -1;
    struct stat st {};
    int status = 0;
    int error = 0;
    if (::fstat(fd, &st) != 0)
        error = errno;
    else if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
        error = ENXIO;
    else if ((status = ::fcntl(fd, F_GETFL)) < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0)
        error = errno;
    if (error != 0) {
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
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
