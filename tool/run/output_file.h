// The output as a run writes it. The records go to a temporary file beside
// the output's final target, which replaces the target in one rename once
// its header is complete: the output path holds what it held before the run
// or the whole new file, at every instant. A failed or interrupted run
// removes the temporary file; from the rename on, the run has succeeded.
//
// Where the directory refuses a new file (a read-only directory holding a
// writable output), the target itself is written; where the rename is
// refused (a bind-mounted file, another user's file in a sticky directory,
// another file system), the whole file is copied into the target, its size
// reserved first so that a copy that could not complete leaves the old
// output. Runs writing one target in place take turns on it (a lock), and
// a run that fails while its bytes are in the target leaves it empty, never
// a file whose header claims records it does not hold.
#ifndef MORVANE_OUTPUT_FILE_H
#define MORVANE_OUTPUT_FILE_H

#include "LiDAR.h"
#include "lidar/internal/file_handle.h"
#include "lidar/internal/point_stats.h"
#include "run/output_target.h"

#include <cstdio>
#include <string>
#include <sys/types.h>

namespace morvane {

// `<target>.morvane-partial-<pid>-<attempt>`, beside the target, its last
// component cut (never inside a UTF-8 character) to what the directory's
// file system takes.
std::string temporaryName(const std::string &target, int attempt);

class OutputFile {
public:
    // Creates the temporary file (or opens the target); on failure prints
    // "Failed to open <name> for writing: <reason>" and throws RunFailure.
    explicit OutputFile(const OutputTarget &target);
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
    // (a symbolic link itself, never the file it points to); where the path
    // cannot be removed, the file it stands for is emptied.
    void eraseOutput();

private:
    bool createTemporary();
    void openInPlace();
    void giveFinalMode() const;
    bool putInPlace() const;
    void copyIntoTarget(int renameError);
    void discard();

    const OutputTarget &target_;
    std::string temporary_;  // beside the target; empty when writing the target itself
    lidar::FilePtr file_;
    int temporaryFd_ = -1;         // the temporary file's descriptor, owned by file_
    bool pending_ = false;         // a file of this run is still to be removed or emptied on failure
    bool createdInPlace_ = false;  // the target did not exist and was made by this run
    mode_t mode_ = 0;              // the old output's, or 0666 less the umask
};

}  // namespace morvane

#endif
