#pragma once

#include <string>

namespace tarnflow {

// The system thinks in COM port numbers 1 to 255; Linux has device nodes. This process-wide table
// gives a device node the lowest free number the first time it is seen and keeps that number for
// the rest of the run. All functions are thread-safe.
namespace PortNames {

inline constexpr int kMinPort = 1;
inline constexpr int kMaxPort = 255;

// The number of `deviceNode`, assigned on first sight. When `preferred` (1-255) is free or
// already this node's, the new node takes it instead of the lowest free one; port discovery uses
// this to keep the number a physical USB socket had before. 0 when all 255 numbers are taken or
// the node is empty.
int NumberFor(const std::string& deviceNode, int preferred = 0);

// The device node behind `number`, or empty when none was assigned.
std::string NodeFor(int number);

// "COM%d".
std::string PortName(int number);

// Forgets every assignment. For tests only.
void ResetForTesting();

}  // namespace PortNames

}  // namespace tarnflow
