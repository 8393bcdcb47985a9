#pragma once

#include <array>
#include <string>
#include <vector>

#include "cli/HeadlessHost.h"
#include "engine/DownloadSelection.h"

namespace tarnflow::cli {

struct CliOptions {
    DownloadSelection selection;
    std::vector<std::string> ports;  // --port, in order
    bool search = false;
    int waitPorts = 0;
    int waitSeconds = 60;
    QuestionPolicy questions = QuestionPolicy::Ask;
    bool questionsGiven = false;
    std::string jsonPath;
    bool help = false;
    bool version = false;
    bool listPorts = false;  // list what Port Search sees instead of downloading
};

struct ParseResult {
    bool ok = false;
    std::string error;  // for bad usage
    CliOptions options;
};

// Reads the arguments after the program name. Never throws: bad usage comes back in `error`.
ParseResult ParseOptions(const std::vector<std::string>& args);

// The checks the window makes before a download can start: one image group, the extension of
// every chosen file. Returns the message for the operator, empty when all is well.
std::string CheckSelection(const DownloadSelection& selection);

const char* UsageText();

}  // namespace tarnflow::cli
