#include "run/output_file.h"

#include "block_size.h"
#include "header_read.h"
#include "read_at.h"
#include "run/signals.h"
#include "run_failure.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kMaxLinkHops = 40;  // as the kernel's own limit

std::string directoryOf(const std::string &path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Follows symbolic links to the file a name finally stands for, which need
// not exist yet; false (errno ELOOP) for a loop of links.
bool finalTarget(const std::string &name, std::string &path)
{
    path = name;
    for (int hops = 0; hops < kMaxLinkHops; ++hops) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return true;
        std::string link(static_cast<size_t>(st.st_size > 0 ? st.st_size : PATH_MAX), '\0');
        const ssize_t got = ::readlink(path.c_str(), link.data(), link.size());
        if (got <= 0)
            return true;
        link.resize(static_cast<size_t>(got));
        path = link[0] == '/' ? link : directoryOf(path) + "/" + link;
    }
    errno = ELOOP;
    return false;
}

// `<target>.morvane-partial-<pid>-<n>`, its last component cut to what the
// directory's file system takes: a target of any accepted name has a
// temporary file, whatever the PID's digits.
std::string temporaryName(const std::string &target, int attempt)
{
    const size_t slash = target.rfind('/');
    const size_t baseAt = slash == std::string::npos ? 0 : slash + 1;
    const std::string suffix = ".morvane-partial-" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
    const long limit = ::pathconf(directoryOf(target).c_str(), _PC_NAME_MAX);
    const size_t nameMax = limit > 0 ? static_cast<size_t>(limit) : NAME_MAX;
    size_t keep = target.size() - baseAt;
    if (keep + suffix.size() > nameMax) {
        keep = nameMax > suffix.size() ? nameMax - suffix.size() : 0;
        // Never half a UTF-8 character.
        while (keep > 0 && (static_cast<unsigned char>(target[baseAt + keep]) & 0xC0) == 0x80)
            --keep;
    }
    return target.substr(0, baseAt + keep) + suffix;
}

mode_t currentUmask()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// The target opened as a plain write opens it: created, or emptied.
int openForPlainWrite(const std::string &target)
{
    return ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666);
}

[[noreturn]] void failOpen(const std::string &name, int error)
{
    failRun("\nFailed to open %s for writing: %s\n", name.c_str(), std::strerror(error));
}

// Writes all of `bytes`, retrying an interrupted or partial write.
bool writeAll(int fd, const uint8_t *bytes, size_t size)
{
    while (size != 0) {
        const ssize_t put = ::write(fd, bytes, size);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        bytes += put;
        size -= static_cast<size_t>(put);
    }
    return true;
}

}  // namespace

OutputFile::OutputFile(const char *name) : name_(name)
{
    if (!finalTarget(name_, target_))
        failOpen(name_, errno);
    struct stat st {};
    existed_ = ::stat(target_.c_str(), &st) == 0;
    // A file the user may not write stays as it is.
    if (existed_ && ::access(target_.c_str(), W_OK) != 0)
        failOpen(name_, errno);
    mode_ = existed_ ? st.st_mode & 07777 : 0666 & ~currentUmask();
    owner_ = st.st_uid;
    group_ = st.st_gid;
    if (!createTemporary())
        openTarget();
}

// Only its owner can open it until it is whole: 0600, a new file (O_EXCL,
// which also refuses a symbolic link planted under its name).
bool OutputFile::createTemporary()
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const TerminatingSignalsHeld held;
        temporary_ = temporaryName(target_, attempt);
        const int fd = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY,
                              0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            break;
        }
        file_.reset(::fdopen(fd, "wb"));
        if (!file_) {
            ::close(fd);
            ::unlink(temporary_.c_str());
            break;
        }
        pending_ = true;
        cleanUpOnSignal(temporary_.c_str());
        return true;
    }
    temporary_.clear();
    return false;
}

// The target itself, written from the start.
void OutputFile::openTarget()
{
    const TerminatingSignalsHeld held;
    const int fd = openForPlainWrite(target_);
    if (fd < 0)
        failOpen(name_, errno);
    file_.reset(::fdopen(fd, "wb"));
    if (!file_) {
        const int error = errno;
        ::close(fd);
        failOpen(name_, error);
    }
    pending_ = true;
    cleanUpOnSignal(target_.c_str(), fd);
}

OutputFile::~OutputFile()
{
    if (pending_)
        discard();
}

// A failed run leaves nothing: the temporary file goes; a target written in
// place is removed, or emptied where it cannot be removed (a mount point).
void OutputFile::discard()
{
    cleanUpOnSignal(nullptr);
    pending_ = false;
    if (temporary_.empty() && file_ && ::unlink(target_.c_str()) != 0)
        (void)::ftruncate(::fileno(file_.get()), 0);
    file_.reset();
    if (!temporary_.empty())
        ::unlink(temporary_.c_str());
}

void OutputFile::failWrite(int error) const
{
    failRun("\nFailed to write %s: %s\n", name_.c_str(), std::strerror(error));
}

// The old output's owner and group where this process may give them (root,
// or a group it belongs to); where it may not, no setuid or setgid bit, as
// cp and install do. The mode last: changing the owner clears those bits.
void OutputFile::giveFinalMode() const
{
    const int fd = ::fileno(file_.get());
    mode_t mode = mode_;
    if (existed_ && ::fchown(fd, owner_, group_) != 0)
        mode &= ~mode_t{S_ISUID | S_ISGID};
    (void)::fchmod(fd, mode);
}

// The rename was refused: the target is written over with the whole file.
void OutputFile::copyIntoTarget() const
{
    const int from = ::open(temporary_.c_str(), O_RDONLY | O_CLOEXEC);
    const int to = openForPlainWrite(target_);
    int error = from < 0 || to < 0 ? errno : 0;
    std::vector<uint8_t> block(lidar::kBlockBytes);
    for (uint64_t offset = 0; error == 0;) {
        const size_t got = lidar::read_at(from, block.data(), block.size(), offset);
        if (got < block.size() && errno != 0)
            error = errno;
        else if (!writeAll(to, block.data(), got))
            error = errno != 0 ? errno : EIO;
        if (got < block.size())
            break;
        offset += got;
    }
    if (from >= 0)
        ::close(from);
    if (to >= 0 && ::close(to) != 0 && error == 0)
        error = errno;
    if (error != 0) {
        failRun("\nFailed to put %s in place: %s\n", name_.c_str(), std::strerror(error));
    }
}

void OutputFile::commit(const LAS12Header &input, const lidar::PointStats &written)
{
    LAS12Header header = input;
    written.apply(header);
    std::FILE *file = file_.get();
    if (std::fflush(file) != 0 || std::fseek(file, 0, SEEK_SET) != 0 ||
        std::fwrite(&header, sizeof header, 1, file) != 1 || std::fflush(file) != 0)
        failWrite(errno);
    if (!temporary_.empty())
        giveFinalMode();
    if (!lidar::close_file(file_))
        failWrite(errno);
    if (!temporary_.empty() && ::rename(temporary_.c_str(), target_.c_str()) != 0) {
        const int error = errno;
        // A file that cannot be replaced but can be written: a bind mount
        // (EBUSY), another user's file in a sticky directory (EPERM), a
        // target on another file system (EXDEV).
        if (error != EBUSY && error != EPERM && error != EXDEV) {
            failRun("\nFailed to put %s in place: %s\n", name_.c_str(), std::strerror(error));
        }
        copyIntoTarget();
        ::unlink(temporary_.c_str());
    }
    cleanUpOnSignal(nullptr);
    pending_ = false;
    lidar::print_header_updated(name_.c_str());
}

void OutputFile::eraseOutput()
{
    discard();
    std::remove(name_.c_str());
}
