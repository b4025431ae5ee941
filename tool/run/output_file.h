// The output as a run writes it. The records go to a temporary file beside
// the output's final target (the file a symbolic link points to), which
// replaces the target in one rename once its header is complete: the output
// path holds what it held before the run or the whole new file, at every
// instant. A failed or interrupted run removes the temporary file.
//
// Where no temporary file can be made beside the target (a read-only
// directory holding a writable output), or the rename is refused (a
// bind-mounted file, a sticky directory, another file system), the target
// itself is written, as a plain write would; a failed run then empties or
// removes it.
#ifndef MORVANE_OUTPUT_FILE_H
#define MORVANE_OUTPUT_FILE_H

#include "LiDAR.h"
#include "file_handle.h"
#include "point_stats.h"

#include <cstdio>
#include <string>
#include <sys/types.h>

class OutputFile {
public:
    // Creates the temporary file (or opens the target); on failure prints
    // "Failed to open <name> for writing: <reason>" and throws RunFailure.
    explicit OutputFile(const char *name);
    ~OutputFile();
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    std::FILE *get() const { return file_.get(); }

    // Prints why writing failed (errno `error`) and throws RunFailure.
    [[noreturn]] void failWrite(int error) const;

    // Writes the refreshed header, gives the file the old output's mode,
    // owner and group, and puts it in place of the target. Throws
    // RunFailure after the message when it cannot.
    void commit(const LAS12Header &header, const lidar::PointStats &written);

    // No point kept: the file written goes, and so does the output path
    // (a symbolic link itself, never the file it points to).
    void eraseOutput();

private:
    bool createTemporary();
    void openTarget();
    void giveFinalMode() const;
    void copyIntoTarget() const;
    void discard();

    std::string name_;       // as the user gave it
    std::string target_;     // the file that name finally stands for
    std::string temporary_;  // beside the target; empty when writing the target itself
    lidar::FilePtr file_;
    bool pending_ = false;  // a file of this run is still to be removed on failure
    // The target as it was: its mode, owner and group pass to the new file.
    bool existed_ = false;
    mode_t mode_ = 0;
    uid_t owner_ = 0;
    gid_t group_ = 0;
};

#endif
