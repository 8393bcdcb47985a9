#pragma once

#include <string>

#include "platform/DeviceMap.h"

namespace tarnflow {

// The COM port name ("COM%d") of a serial device, or "" when no number is left. A device whose
// USB socket is known (physicalPath) gets the number that socket had before, kept in the
// settings section "PORTS"; a socket seen for the first time takes the lowest number that is
// neither in use nor kept for another socket. Settings that cannot be read or written only
// lose that memory.
std::string PortNameFor(const SerialDevice& device);

}  // namespace tarnflow
