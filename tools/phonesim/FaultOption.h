#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "phonesim/FaultSettings.h"

namespace tarnflow::phonesim {

// Applies one fault given as PHONE:KIND[:ARG[:ARG]] to `phones` (one settings entry per phone).
// PHONE is a phone index or "all". False with `error` set when the text is not a fault.
bool ApplyFaultOption(std::string_view text, std::vector<FaultSettings>& phones, std::string& error);

// The fault kinds and their arguments, one per line, for the help text.
const char* FaultKindsHelp();

}  // namespace tarnflow::phonesim
