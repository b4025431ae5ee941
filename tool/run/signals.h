// The process as a run starts it: standard descriptors, and its signals set
// up in one place. Every signal whose default action
// ends the process first removes the output's temporary file and empties an
// output being written in place, then ends the process as that signal would.
#ifndef MORVANE_SIGNALS_H
#define MORVANE_SIGNALS_H

#include <csignal>

namespace morvane {

// A batch system may start the run with standard descriptors closed (cron,
// `<&- >&-`): each is opened on /dev/null, so that the first file opened
// cannot become the console. False where that cannot be done.
bool openStandardDescriptors();

// Installed once, before any file is created, over default actions only: a
// signal the caller ignores (nohup, a background job) stays ignored, and a
// handler already installed stays. SIGPIPE is ignored (a console that goes
// away costs nothing), and so is SIGXFSZ: a write beyond the file-size limit
// then fails with EFBIG and is reported like any failed write.
void watchTerminatingSignals();

// While one lives, those signals wait: a file created and registered in its
// scope can never be left unregistered by a signal in between.
class TerminatingSignalsHeld {
public:
    TerminatingSignalsHeld();
    ~TerminatingSignalsHeld();
    TerminatingSignalsHeld(const TerminatingSignalsHeld &) = delete;
    TerminatingSignalsHeld &operator=(const TerminatingSignalsHeld &) = delete;

    // Once the output is in place the run has succeeded: a signal that
    // comes later waits to the end of the process and is then discarded,
    // so that an ending by a signal always means the old output is there.
    void keepToTheEnd() { kept_ = true; }

private:
    sigset_t previous_;
    bool kept_ = false;
};

// What a terminating signal cleans up: the file to remove (nullptr: none)
// and a descriptor to empty (-1: none). The name must stay valid until it
// is replaced.
void cleanUpOnSignal(const char *removeName, int truncateFd = -1);

}  // namespace morvane

#endif
