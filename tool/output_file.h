// The output as a run writes it. The records go to a temporary file beside
// the output's final target (the file a symbolic link points to), which
// replaces the target in one rename once its header is complete: the output
// path holds what it held before the run or the whole new file, at every
// instant. A failed or interrupted run removes the temporary file.
#ifndef MORVANE_OUTPUT_FILE_H
#define MORVANE_OUTPUT_FILE_H

#include "LiDAR.h"
#include "file_handle.h"
#include "point_stats.h"

#include <cstdio>
#include <string>

class OutputFile {
public:
    // Creates the temporary file; on failure prints
    // "Failed to open <name> for writing" and throws RunFailure.
    explicit OutputFile(const char *name);
    ~OutputFile();
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    std::FILE *get() const { return file_.get(); }

    // Prints why writing failed (errno `error`) and throws RunFailure.
    [[noreturn]] void failWrite(int error) const;

    // Writes the refreshed header, closes the file and puts it in place of
    // the target. Throws RunFailure after the message when it cannot.
    void commit(const LAS12Header &header, const lidar::PointStats &written);

    // No point kept: the temporary file goes, and so does the output path
    // (a symbolic link itself, never the file it points to).
    void eraseOutput();

private:
    void removeTemporary();

    std::string name_;       // as the user gave it
    std::string target_;     // the file that name finally stands for
    std::string temporary_;  // beside the target
    lidar::FilePtr file_;
};

#endif
