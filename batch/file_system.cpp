#include "file_system.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace batch {

UniqueFd &UniqueFd::operator=(UniqueFd &&other) noexcept
{
    if (this != &other)
        reset(other.release());
    return *this;
}

int UniqueFd::release()
{
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void UniqueFd::reset(int fd)
{
    if (fd_ >= 0)
        ::close(fd_);  // no retry: on Linux the descriptor is gone either way
    fd_ = fd;
}

std::string errorText(int error)
{
    return std::strerror(error);
}

int openRetry(const char *path, int flags, mode_t mode)
{
    int fd;
    do
        fd = ::open(path, flags | O_CLOEXEC, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

int writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t put = ::write(fd, bytes.data(), bytes.size());
        if (put < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        bytes.remove_prefix(static_cast<size_t>(put));
    }
    return 0;
}

int writeAllAt(int fd, std::string_view bytes, int64_t offset)
{
    while (!bytes.empty()) {
        const ssize_t put = ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset));
        if (put < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        bytes.remove_prefix(static_cast<size_t>(put));
        offset += put;
    }
    return 0;
}

std::optional<std::string> readAll(int fd, int *error)
{
    std::string bytes;
    char chunk[16384];
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got > 0)
            bytes.append(chunk, static_cast<size_t>(got));
        else if (got == 0)
            return bytes;
        else if (errno != EINTR)
            break;
    }
    if (error != nullptr)
        *error = errno;
    return std::nullopt;
}

std::optional<std::string> readWholeFile(const std::string &path, int *error)
{
    // Never waits: a FIFO planted in the records' place is an error.
    const UniqueFd fd(openRetry(path.c_str(), O_RDONLY | O_NONBLOCK));
    if (fd)
        return readAll(fd.get(), error);
    if (error != nullptr)
        *error = errno;
    return std::nullopt;
}

int makeFolders(const std::string &path)
{
    if (path.empty() || ::mkdir(path.c_str(), 0777) == 0)
        return 0;
    if (errno == EEXIST) {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    }
    if (errno != ENOENT)
        return errno;
    const std::string_view parent = parentOf(path);
    if (parent.empty() || parent == path)
        return ENOENT;
    if (const int error = makeFolders(std::string(parent)); error != 0)
        return error;
    if (::mkdir(path.c_str(), 0777) == 0 || errno == EEXIST)
        return 0;  // another process may make it at the same moment
    return errno;
}

int replaceFile(const std::string &target, std::string_view bytes, const std::string &temporaryPath)
{
    UniqueFd fd(openRetry(temporaryPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666));
    if (!fd)
        return errno;
    int error = writeAll(fd.get(), bytes);
    if (error == 0 && ::close(fd.release()) != 0)
        error = errno;
    if (error == 0 && ::rename(temporaryPath.c_str(), target.c_str()) != 0)
        error = errno;
    if (error != 0)
        ::unlink(temporaryPath.c_str());
    return error;
}

FileStamp stampOf(const std::string &path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return {};
    return {static_cast<int64_t>(st.st_size),
            static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + static_cast<int64_t>(st.st_mtim.tv_nsec)};
}

std::string joinPath(std::string_view folder, std::string_view rel)
{
    std::string path(folder);
    if (!path.empty() && path.back() != '/')
        path += '/';
    path += rel;
    return path;
}

std::string_view parentOf(std::string_view path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string_view{} : path.substr(0, slash == 0 ? 1 : slash);
}

std::string_view baseNameOf(std::string_view path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace batch
