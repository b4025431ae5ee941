// The batch's processes: one child per tile through posix_spawn, its
// standard output and error read through a pipe, its end taken with
// waitpid, and the signals that end the batch (SIGINT, SIGTERM, SIGHUP)
// caught through a self-pipe, so that one poll waits for all three.
#ifndef BATCH_PROCESS_RUNNER_H
#define BATCH_PROCESS_RUNNER_H

#include "file_system.h"

#include <csignal>
#include <functional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace batch {

struct ChildEnd {
    size_t id;
    int exitStatus;  // the child's, or 128 + the signal that ended it
    bool bySignal;
};

// One per process: it owns the signal handlers while it lives.
class ProcessRunner {
public:
    ProcessRunner();
    ~ProcessRunner();
    ProcessRunner(const ProcessRunner &) = delete;
    ProcessRunner &operator=(const ProcessRunner &) = delete;

    // Starts argv[0] (a path) with standard input on /dev/null and standard
    // output and error into one pipe. 0, or the error that prevented it.
    int start(size_t id, const std::vector<std::string> &argv);
    size_t running() const { return children_.size(); }

    using OutputHandler = std::function<void(size_t id, std::string_view bytes)>;
    using EndHandler = std::function<void(const ChildEnd &)>;
    // Waits up to timeoutMs (-1: no limit) for output, ends and signals;
    // hands output and ends to the handlers (a child ends once it has exited
    // and its pipe is drained). Returns the last ending signal caught, or 0.
    int wait(int timeoutMs, const OutputHandler &onOutput, const EndHandler &onEnd);

    // Sends sig to every child still running.
    void signalAll(int sig);

private:
    struct Child {
        size_t id;
        pid_t pid;
        UniqueFd output;
        bool exited = false;
        int wstatus = 0;
    };

    std::vector<Child> children_;
    struct sigaction previous_[4]{};
    bool installed_[4]{};
    bool pipeIgnored_ = false;  // SIGPIPE as the batch was started with it
};

// The signals that end a batch, in the order ProcessRunner keeps them.
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};

}  // namespace batch

#endif
