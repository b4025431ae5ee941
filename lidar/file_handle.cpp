#include "file_handle.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lidar {

FilePtr open_file(const char *name, const char *mode)
{
    const bool update = std::strchr(mode, '+') != nullptr;
    // O_NONBLOCK lets a FIFO without a writer open at once, so that its
    // kind can be seen; it is cleared again for a file that is kept.
    const int fd = ::open(name, (update ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat st {};
    int flags = 0;
    int error = 0;
    if (::fstat(fd, &st) != 0)
        error = errno;
    else if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
        error = ENXIO;
    else if ((flags = ::fcntl(fd, F_GETFL)) < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
        error = errno;
    if (error != 0) {
        ::close(fd);
        errno = error;
        return nullptr;
    }
    std::FILE *file = ::fdopen(fd, mode);
    if (file == nullptr)
        ::close(fd);
    return FilePtr(file);
}

}  // namespace lidar
