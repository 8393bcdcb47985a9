#pragma once

#include <string_view>

namespace tarnflow {

// The debug trace: diagnostics the operator never sees. Written to standard error when the
// environment variable TARNFLOW_TRACE is set (to anything but "0"), dropped otherwise.
// Callable from any thread; lines from different threads do not interleave within a call.
void Trace(std::string_view text);

// printf-style convenience for the trace formats of the system ("...%d...").
void TraceF(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace tarnflow
