// The batch's file-system calls: each system call wrapped once, with its
// retry on EINTR, and the few compound steps built on them (a folder made
// with its parents, a file written whole under a temporary name and renamed).
// Failures come back as errno values; callers word the message.
#ifndef BATCH_FILE_SYSTEM_H
#define BATCH_FILE_SYSTEM_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace batch {

// An open descriptor, closed once.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd &&other) noexcept : fd_(other.release()) {}
    UniqueFd &operator=(UniqueFd &&other) noexcept;
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release();
    void reset(int fd = -1);

private:
    int fd_ = -1;
};

std::string errorText(int error);

// -1 and errno on failure, as open(2).
int openRetry(const char *path, int flags, mode_t mode = 0);
// 0, or the errno of the first failed write.
int writeAll(int fd, std::string_view bytes);
// 0, or the errno of the first failed write; the bytes go at offset.
int writeAllAt(int fd, std::string_view bytes, int64_t offset);
// Everything up to the end, or nothing with *error set (readWholeFile
// refuses a FIFO at once rather than waiting on it).
std::optional<std::string> readAll(int fd, int *error = nullptr);
std::optional<std::string> readWholeFile(const std::string &path, int *error = nullptr);

// mkdir -p: 0, or the errno of the folder that could not be made.
int makeFolders(const std::string &path);
// Writes bytes to temporaryPath and renames it to target (mode 0666 less the
// umask): readers see the old file or the whole new one. 0 or an errno.
int replaceFile(const std::string &target, std::string_view bytes, const std::string &temporaryPath);

// The size and modification time of a file (links followed); both -1 where
// it cannot be read, so that nothing matches an unreadable file.
struct FileStamp {
    int64_t size = -1;
    int64_t mtimeNs = -1;
    bool operator==(const FileStamp &) const = default;
};
FileStamp stampOf(const std::string &path);

// folder/rel, without doubling a slash folder ends with.
std::string joinPath(std::string_view folder, std::string_view rel);
// Everything before the last slash ("" when there is none).
std::string_view parentOf(std::string_view path);
// Everything after the last slash.
std::string_view baseNameOf(std::string_view path);

}  // namespace batch

#endif
