// Owning FILE handle and small helpers shared by the library and the tool.
#ifndef LIDAR_FILE_HANDLE_H
#define LIDAR_FILE_HANDLE_H

#include <cstdio>
#include <memory>
#include <sys/stat.h>

namespace lidar {

struct FileCloser {
    void operator()(std::FILE *f) const noexcept { std::fclose(f); }
};

using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// open(2) that never waits on a FIFO, socket or device: those are not opened
// at all (-1, errno ENXIO), where a plain open would block until a writer
// appears or take a terminal. Regular files and directories open as a plain
// open opens them, waiting, as it does, for a lease on the file to be
// released. `flags` gives the access mode and any other flags.
int open_without_blocking(const char *name, int flags);

// Opens again, with `flags`, the file that `pinned` (an O_PATH descriptor)
// holds and `seen` describes: through its /proc entry, so that nothing put
// under the name since can be opened instead; without /proc, by `name`,
// kept only if it is still that file (else -1, errno `replacedError`).
// Waits on a lease as a plain open does; never on a FIFO put in its place.
int reopen_pinned(int pinned, const char *name, const struct stat &seen, int flags, int replacedError);

// fopen for reading ("r", "rb", "r+b") through open_without_blocking.
FilePtr open_file(const char *name, const char *mode);

// Closes the file and reports whether everything written reached the OS.
inline bool close_file(FilePtr &file)
{
    std::FILE *raw = file.release();
    return raw == nullptr || std::fclose(raw) == 0;
}

}  // namespace lidar

#endif
