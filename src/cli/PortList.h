#pragma once

#include <string>
#include <vector>

#include "platform/DeviceMap.h"

namespace tarnflow::cli {

// One serial device as --list-ports shows it.
struct PortListRow {
    SerialDevice device;
    std::string portName;  // "COM7", or empty when no number is left
    bool tagged = false;   // the device name holds the driver tag: Port Search takes it
};

// The table --list-ports prints: a line naming the device map and the tag, a heading, one
// aligned line per device in Port Search's order ("-" for what is not known) and a count of
// the tagged devices.
std::string FormatPortList(const std::vector<PortListRow>& rows, const std::string& source,
                           const std::string& tag);

// Lists what Port Search sees on standard output; the COM numbers are the ones a download
// would use. Returns the exit status.
int ListPorts();

}  // namespace tarnflow::cli
