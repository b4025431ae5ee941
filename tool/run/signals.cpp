#include "run/signals.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace morvane {

#if defined(__SANITIZE_ADDRESS__)
#define MORVANE_FAULTS_TO_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MORVANE_FAULTS_TO_SANITIZER 1
#endif
#endif

namespace {

std::atomic<const char *> pendingRemoval{nullptr};
std::atomic<int> pendingTruncation{-1};

// Default action "terminate" or "core". Faults stay with a sanitizer, which
// reports them itself.
sigset_t terminatingSignals()
{
    sigset_t set;
    sigemptyset(&set);
    for (const int s : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM, SIGXCPU, SIGVTALRM, SIGPROF, SIGIO,
                        SIGPWR, SIGSTKFLT})
        sigaddset(&set, s);
#ifndef MORVANE_FAULTS_TO_SANITIZER
    for (const int s : {SIGILL, SIGTRAP, SIGABRT, SIGBUS, SIGFPE, SIGSEGV, SIGSYS})
        sigaddset(&set, s);
#endif
    for (int s = SIGRTMIN; s <= SIGRTMAX; ++s)
        sigaddset(&set, s);
    return set;
}

extern "C" void cleanUpAndEnd(int signal)
{
    if (const int fd = pendingTruncation.load(); fd >= 0)
        (void)::ftruncate(fd, 0);
    if (const char *name = pendingRemoval.load(); name != nullptr)
        (void)::unlink(name);
    ::signal(signal, SIG_DFL);
    ::raise(signal);  // delivered as the handler returns
}

}  // namespace

void watchTerminatingSignals()
{
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    const sigset_t set = terminatingSignals();
    struct sigaction action {};
    action.sa_handler = cleanUpAndEnd;
    action.sa_mask = set;  // one clean-up at a time
    for (int s = 1; s <= SIGRTMAX; ++s) {
        struct sigaction old {};
        // Only a default action is replaced: a signal the caller ignores
        // stays ignored, and a handler already there (a test harness's) stays.
        if (sigismember(&set, s) == 1 && ::sigaction(s, nullptr, &old) == 0 && (old.sa_flags & SA_SIGINFO) == 0 &&
            old.sa_handler == SIG_DFL)
            ::sigaction(s, &action, nullptr);
    }
}

TerminatingSignalsHeld::TerminatingSignalsHeld()
{
    const sigset_t set = terminatingSignals();
    ::sigprocmask(SIG_BLOCK, &set, &previous_);
}

TerminatingSignalsHeld::~TerminatingSignalsHeld()
{
    if (!kept_)
        ::sigprocmask(SIG_SETMASK, &previous_, nullptr);
}

void cleanUpOnSignal(const char *removeName, int truncateFd)
{
    pendingRemoval.store(nullptr);
    pendingTruncation.store(truncateFd);
    pendingRemoval.store(removeName);
}

bool openStandardDescriptors()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        const int opened = ::open("/dev/null", O_RDWR);
        if (opened != fd) {
            if (opened >= 0)
                ::close(opened);
            return false;
        }
    }
    return true;
}

}  // namespace morvane
