// Owning FILE handle and small helpers shared by the library and the tool.
#ifndef LIDAR_FILE_HANDLE_H
#define LIDAR_FILE_HANDLE_H

#include <cstdio>
#include <memory>

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
