#pragma once

#include "cli/CliOptions.h"

namespace tarnflow::cli {

// Runs one download as the options say and returns the exit status: 0 when every phone
// completed; 1 when any failed, fewer phones arrived than awaited or the download was refused;
// 2 for bad usage, an image refused for what the file is, or a report that cannot be written;
// 128 + the signal's number when SIGINT, SIGTERM or SIGHUP stopped it. Every run writes its
// report (--json) and appends it to the history file.
int RunDownload(const CliOptions& options);

}  // namespace tarnflow::cli
