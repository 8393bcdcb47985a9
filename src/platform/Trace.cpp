#include "platform/Trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace tarnflow {

namespace {

bool TraceEnabled() {
    static const bool enabled = [] {
        const char* value = std::getenv("TARNFLOW_TRACE");
        return value != nullptr && std::strcmp(value, "0") != 0;
    }();
    return enabled;
}

std::mutex& TraceMutex() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace

void Trace(std::string_view text) {
    if (!TraceEnabled()) {
        return;
    }
    std::lock_guard<std::mutex> lock(TraceMutex());
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

void TraceF(const char* format, ...) {
    if (!TraceEnabled()) {
        return;
    }
    char line[512];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (n > 0) {
        Trace(std::string_view(line, static_cast<size_t>(n) < sizeof line ? n : sizeof line - 1));
    }
}

}  // namespace tarnflow
