// A batch from start to end: the checks made before any tile runs, the tiles
// run a process each (or skipped when their record says they are done), their
// logs and records, the summary and the console; and the summary alone.
#ifndef BATCH_BATCH_RUN_H
#define BATCH_BATCH_RUN_H

#include "command_line.h"

namespace batch {

// The exit statuses of morvane-batch (an interrupted batch exits 128 + n).
constexpr int kAllDone = 0;
constexpr int kSomeFailed = 1;
constexpr int kUsageError = 2;

int runBatch(const Options &options);
int writeSummary(const Options &options);

// Prints "morvane-batch: <message>" and the usage line to standard error;
// returns kUsageError.
int refuseUsage(const std::string &message);

}  // namespace batch

#endif
