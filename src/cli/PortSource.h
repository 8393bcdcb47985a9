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
    std::map<int, SerialDevice> devices;  // by COM number: the device as given or found
    // Set when the run may go on but must not end with success (fewer phones arrived than
    // --wait-ports asked for); says why, for standard error.
    std::string shortfall;
};

// Fills the entries from the ports the options name (--port, --search or --wait-ports). False
// when no phone could be had; the reason has been printed on standard error. `stopRequested` is
// polled while waiting for ports, so that a signal ends the wait.
bool AssignPorts(const CliOptions& options, CDloadEngine& engine, PortAssignment& assignment,
                 const std::function<bool()>& stopRequested);

}  // namespace tarnflow::cli
