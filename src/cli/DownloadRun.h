#pragma once

#include <string>
#include <vector>

#include "cli/CliOptions.h"

namespace tarnflow::cli {

struct EntryReport {
    int entry = 0;  // 1-based
    std::string port;
    int comPort = 0;
    std::string outcome;  // "completed" or "failed"
    uint64_t bytesWritten = 0;
    int retries = 0;
    double seconds = 0;
};

// Runs one download as the options say and returns the exit status: 0 when every phone
// completed, 1 when any failed or the download was refused, 2 for bad usage or an unreadable
// image.
int RunDownload(const CliOptions& options);

std::string ReportJson(const std::vector<EntryReport>& entries, int exitStatus);

}  // namespace tarnflow::cli
