#pragma once

#include <functional>
#include <map>
#include <string>

#include "cli/CliOptions.h"
#include "engine/DloadEngine.h"
#include "platform/DeviceMap.h"

namespace tarnflow::cli {

// What the command line knows of the ports it gave the entries.
struct PortAssignment {
    // By COM number, for every entry's port and nothing else: the device as given or found.
    std::map<int, SerialDevice> devices;
    // Set when the run may go on but must not end with success (fewer phones arrived than
    // --wait-ports asked for); says why, for standard error.
    std::string shortfall;
};

// Fills the entries from the ports the options name (--port, --search or --wait-ports). False
// when no phone could be had; the reason has been printed on standard error.
//
// --search gives the first twenty tagged devices of the device map an entry each and names the
// rest on standard error. --wait-ports counts the tagged phones present when the wait starts
// and those that arrive; a phone that leaves gives its entry back. The wait ends when enough
// phones are present, when --wait-seconds have passed (shortfall set if some but too few are
// there) or when `stopRequested`, polled at least every 100 ms, says so.
bool AssignPorts(const CliOptions& options, CDloadEngine& engine, PortAssignment& assignment,
                 const std::function<bool()>& stopRequested);

}  // namespace tarnflow::cli
