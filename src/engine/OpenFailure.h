#pragma once

#include <string>

#include "platform/SerialPort.h"

namespace tarnflow {

// What the operator reads when the port at `device` could not be opened: the device, what went
// wrong, and what to do about it (group membership, the program holding the port, the cable).
std::string OpenFailureText(const std::string& device, SerialError error);

}  // namespace tarnflow
