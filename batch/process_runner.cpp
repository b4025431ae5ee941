#include "process_runner.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace batch {

namespace {

// The self-pipe: the handler writes the signal's number, poll reads it.
int signalPipe[2] = {-1, -1};

extern "C" void noteSignal(int sig)
{
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(sig);
    (void)!::write(signalPipe[1], &byte, 1);  // a full pipe already holds a wake-up
    errno = saved;
}

// SIGCHLD after the ending signals: a child's end wakes poll too.
constexpr int kWatched[] = {SIGINT, SIGTERM, SIGHUP, SIGCHLD};

bool endingSignal(int sig)
{
    return std::find(std::begin(kEndingSignals), std::end(kEndingSignals), sig) != std::end(kEndingSignals);
}

}  // namespace

ProcessRunner::ProcessRunner()
{
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        signalPipe[0] = signalPipe[1] = -1;  // then poll wakes on output and timeouts only
    // A console that goes away must not end the batch; the tiles get SIGPIPE
    // as the batch found it.
    pipeIgnored_ = std::signal(SIGPIPE, SIG_IGN) == SIG_IGN;
    struct sigaction action {};
    action.sa_handler = noteSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < std::size(kWatched); ++i) {
        // A signal the caller ignores (nohup) stays ignored, here and in the tiles.
        if (::sigaction(kWatched[i], nullptr, &previous_[i]) == 0 &&
            (kWatched[i] == SIGCHLD || previous_[i].sa_handler != SIG_IGN))
            installed_[i] = signalPipe[1] >= 0 && ::sigaction(kWatched[i], &action, nullptr) == 0;
    }
}

ProcessRunner::~ProcessRunner()
{
    for (size_t i = 0; i < std::size(kWatched); ++i)
        if (installed_[i])
            ::sigaction(kWatched[i], &previous_[i], nullptr);
    for (int &fd : signalPipe)
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
}

int ProcessRunner::start(size_t id, const std::vector<std::string> &argv)
{
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return errno;
    UniqueFd readEnd(pipeFds[0]), writeEnd(pipeFds[1]);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDERR_FILENO);
    sigset_t defaults;
    sigemptyset(&defaults);
    if (!pipeIgnored_)
        sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

    std::vector<char *> args;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    const int error = ::posix_spawn(&pid, args[0], &actions, &attributes, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (error != 0)
        return error;
    children_.push_back({id, pid, std::move(readEnd)});
    return 0;
}

int ProcessRunner::wait(int timeoutMs, const OutputHandler &onOutput, const EndHandler &onEnd)
{
    std::vector<pollfd> polled;
    polled.push_back({signalPipe[0], POLLIN, 0});
    for (const Child &c : children_)
        polled.push_back({c.output.get(), POLLIN, 0});  // -1 once drained: poll skips it
    if (::poll(polled.data(), polled.size(), timeoutMs) < 0 && errno != EINTR)
        return 0;

    int caught = 0;
    unsigned char signals[64];
    for (ssize_t got; signalPipe[0] >= 0 && (got = ::read(signalPipe[0], signals, sizeof signals)) > 0;)
        for (ssize_t i = 0; i < got; ++i)
            if (endingSignal(signals[i]))
                caught = signals[i];

    char chunk[65536];
    for (size_t i = 0; i < children_.size(); ++i) {
        Child &c = children_[i];
        if ((polled[i + 1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            const ssize_t got = ::read(c.output.get(), chunk, sizeof chunk);
            if (got > 0)
                onOutput(c.id, std::string_view(chunk, static_cast<size_t>(got)));
            else if (got == 0 || errno != EINTR)
                c.output.reset();
        }
        if (!c.exited) {
            pid_t reaped;
            do
                reaped = ::waitpid(c.pid, &c.wstatus, WNOHANG);
            while (reaped < 0 && errno == EINTR);
            c.exited = reaped == c.pid || (reaped < 0 && errno == ECHILD);
        }
    }

    for (auto it = children_.begin(); it != children_.end();) {
        if (!it->exited || it->output) {
            ++it;
            continue;
        }
        const bool bySignal = WIFSIGNALED(it->wstatus);
        const ChildEnd end{it->id, bySignal ? 128 + WTERMSIG(it->wstatus) : WEXITSTATUS(it->wstatus), bySignal};
        it = children_.erase(it);
        onEnd(end);
    }
    return caught;
}

void ProcessRunner::signalAll(int sig)
{
    for (const Child &c : children_)
        if (!c.exited)
            ::kill(c.pid, sig);
}

}  // namespace batch
