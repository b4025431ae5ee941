#include "run/output_target.h"

#include "lidar/internal/file_handle.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace morvane {

namespace {

constexpr int kMaxLinkHops = 40;  // as the kernel's own limit

// Follows symbolic links to the file a name finally stands for, which need
// not exist yet; ELOOP for a loop of links.
int finalTarget(const std::string &name, std::string &path)
{
    path = name;
    for (int hops = 0; hops < kMaxLinkHops; ++hops) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return 0;
        std::string link(static_cast<size_t>(st.st_size > 0 ? st.st_size : PATH_MAX), '\0');
        const ssize_t got = ::readlink(path.c_str(), link.data(), link.size());
        if (got <= 0)
            return 0;
        link.resize(static_cast<size_t>(got));
        path = link[0] == '/' ? link : directoryOf(path) + "/" + link;
    }
    return ELOOP;
}

}  // namespace

std::string directoryOf(const std::string &path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

OutputTarget::OutputTarget(std::string name) : name_(std::move(name))
{
    resolveError_ = finalTarget(name_, path_);
    if (resolveError_ != 0)
        return;
    // O_PATH opens nothing: no FIFO waits, no lease breaks, no access check.
    pinned_ = ::open(path_.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (pinned_ >= 0 && ::fstat(pinned_, &status_) != 0) {
        ::close(pinned_);
        pinned_ = -1;
    }
}

OutputTarget::~OutputTarget()
{
    if (pinned_ >= 0)
        ::close(pinned_);
}

bool OutputTarget::sameFileAs(const char *other) const
{
    if (name_ == other)
        return true;
    struct stat st {};
    return exists() && ::stat(other, &st) == 0 && st.st_dev == status_.st_dev && st.st_ino == status_.st_ino;
}

int OutputTarget::openForWriting() const
{
    if (!exists()) {
        errno = ENOENT;
        return -1;
    }
    // Replaced or removed since the start of the run: nothing to write.
    const int fd = lidar::reopen_pinned(pinned_, path_.c_str(), status_, O_WRONLY | O_CLOEXEC | O_NOCTTY, ENOENT);
    struct stat st {};
    if (fd >= 0 && (::fstat(fd, &st) != 0 || st.st_nlink == 0)) {
        ::close(fd);
        errno = ENOENT;
        return -1;
    }
    return fd;
}

// Pages the kernel still has to write would be written first, for a file
// about to be replaced: only an output older than the kernel's usual age
// for writing back dirty pages (30 s) is taken.
void OutputTarget::dropCachedPages() const
{
    constexpr time_t kWrittenBackAfterSeconds = 30;
    timespec now {};
    if (!exists() || !S_ISREG(status_.st_mode) || ::clock_gettime(CLOCK_REALTIME, &now) != 0 ||
        now.tv_sec - status_.st_mtim.tv_sec < kWrittenBackAfterSeconds)
        return;
    // Never waiting, for this, on another program's lease on the file.
    const int fd =
        lidar::reopen_pinned(pinned_, path_.c_str(), status_, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, ENOENT);
    if (fd < 0)
        return;
    (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
}

void lockForWriting(int fd)
{
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    // Open-file-description locks: held by this descriptor, not by the
    // process, so no other descriptor's close can drop them.
    while (::fcntl(fd, F_OFD_SETLKW, &whole) != 0 && errno == EINTR) {
    }
}

}  // namespace morvane
