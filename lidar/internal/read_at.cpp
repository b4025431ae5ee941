#include "lidar/internal/read_at.h"

#include <cerrno>
#include <sys/types.h>
#include <unistd.h>

namespace lidar {

ReadResult read_at(int fd, void *into, size_t bytes, uint64_t offset)
{
    auto *p = static_cast<char *>(into);
    size_t done = 0;
    while (done < bytes) {
        const ssize_t got = ::pread(fd, p + done, bytes - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return {done, errno};
        if (got == 0)
            break;
        done += static_cast<size_t>(got);
    }
    return {done, 0};
}

}  // namespace lidar
