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

// fopen for reading ("r", "rb", "r+b") that never waits: a FIFO, socket or
// device is not opened at all (nullptr, errno ENXIO), where fopen would
// block until a writer appears or read a terminal. Regular files and
// directories open as fopen opens them.
FilePtr open_file(const char *name, const char *mode);

// Closes the file and reports whether everything written reached the OS.
inline bool close_file(FilePtr &file)
{
    std::FILE *raw = file.release();
    return raw == nullptr || std::fclose(raw) == 0;
}

}  // namespace lidar

#endif
