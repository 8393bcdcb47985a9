#pragma once

#include <string>

namespace tarnflow {

// printf-style formatting into a string, with the compiler checking each argument against its
// format. For the system's texts that carry a number ("COM Port(COMM%d) Open Error").
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace tarnflow
