#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "phonesim/FaultSettings.h"

namespace tarnflow::phonesim {

inline constexpr unsigned kMaxPhones = 100;  // device names have two digits

struct ProgramOptions {
    unsigned phones = 0;
    std::string deviceMap;
    uint32_t baud = 0;
    std::string flashOut;
    std::vector<FaultSettings> faults;  // one per phone
    bool help = false;
};

// Parses the program's arguments (without the program name). False with `error` set when they
// are not usable; --help anywhere wins over everything else.
bool ParseCommandLine(const std::vector<std::string>& args, ProgramOptions& options,
                      std::string& error);

std::string HelpText();

}  // namespace tarnflow::phonesim
