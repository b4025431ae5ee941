#include "output_file.h"

#include "header_read.h"
#include "run_failure.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The temporary file a signal handler must remove: prepared before any
// signal can find it, read by the handler with async-signal-safe calls only.
std::atomic<const char *> pendingRemoval{nullptr};

extern "C" void removeAndRaise(int signal)
{
    if (const char *name = pendingRemoval.load())
        ::unlink(name);
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

void watchInterruptions()
{
    static const bool installed = [] {
        for (int s : {SIGINT, SIGTERM, SIGHUP})
            ::signal(s, removeAndRaise);
        return true;
    }();
    (void)installed;
}

std::string directoryOf(const std::string &path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Follows symbolic links to the file a name finally stands for, which need
// not exist yet. A loop of links is left to the open to refuse.
std::string finalTarget(const std::string &name)
{
    std::string path = name;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return path;
        std::string link(static_cast<size_t>(st.st_size > 0 ? st.st_size : 4096), '\0');
        const ssize_t got = ::readlink(path.c_str(), link.data(), link.size());
        if (got <= 0)
            return path;
        link.resize(static_cast<size_t>(got));
        path = link[0] == '/' ? link : directoryOf(path) + "/" + link;
    }
    return path;
}

// A new file beside the target, named for what it is; the target's
// permission bits when it exists.
int createTemporary(const std::string &target, std::string &name)
{
    struct stat st {};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && ::access(target.c_str(), W_OK) != 0)
        return -1;  // a file the user may not write stays as it is
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = target + ".morvane-partial-" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            if (exists)
                ::fchmod(fd, st.st_mode & 07777);
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    return -1;
}

}  // namespace

OutputFile::OutputFile(const char *name) : name_(name), target_(finalTarget(name))
{
    watchInterruptions();
    const int fd = createTemporary(target_, temporary_);
    std::FILE *file = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
    if (file == nullptr) {
        if (fd >= 0) {
            ::close(fd);
            ::unlink(temporary_.c_str());
        }
        std::printf("\nFailed to open %s for writing\n", name);
        failRun();
    }
    file_.reset(file);
    pendingRemoval.store(temporary_.c_str());
}

OutputFile::~OutputFile()
{
    removeTemporary();
}

void OutputFile::removeTemporary()
{
    file_.reset();
    if (pendingRemoval.exchange(nullptr) != nullptr)
        ::unlink(temporary_.c_str());
}

void OutputFile::failWrite(int error) const
{
    std::printf("\nFailed to write %s: %s\n", name_.c_str(), std::strerror(error));
    failRun();
}

void OutputFile::commit(const LAS12Header &input, const lidar::PointStats &written)
{
    LAS12Header header = input;
    written.apply(header);
    std::FILE *file = file_.get();
    if (std::fflush(file) != 0 || std::fseek(file, 0, SEEK_SET) != 0 ||
        std::fwrite(&header, sizeof header, 1, file) != 1)
        failWrite(errno);
    if (!lidar::close_file(file_))
        failWrite(errno);
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
        std::printf("\nFailed to put %s in place: %s\n", name_.c_str(), std::strerror(errno));
        failRun();
    }
    pendingRemoval.store(nullptr);
    lidar::print_header_updated(name_.c_str());
}

void OutputFile::eraseOutput()
{
    removeTemporary();
    std::remove(name_.c_str());
}
