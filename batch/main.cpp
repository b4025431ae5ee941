// morvane-batch: the batch of tiles as a program. See man/morvane-batch.1.
#include "batch_run.h"
#include "command_line.h"

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    // Closed standard descriptors (cron, <&- >&-) are opened on /dev/null
    // first, so that no pipe or log lands on them.
    for (int fd = 0; fd <= 2; ++fd)
        if (::fcntl(fd, F_GETFD) < 0 && ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) != fd)
            return batch::kUsageError;

    const batch::CommandLine cl = batch::parseCommandLine(argc, argv);
    switch (cl.request) {
    case batch::Request::Help: std::fwrite(batch::helpText().data(), 1, batch::helpText().size(), stdout); return 0;
    case batch::Request::Version: std::puts("morvane-batch " MORVANE_VERSION_TEXT); return 0;
    case batch::Request::UsageError: return batch::refuseUsage(cl.error);
    case batch::Request::Run: break;
    }
    return cl.options.summaryOnly ? batch::writeSummary(cl.options) : batch::runBatch(cl.options);
}
