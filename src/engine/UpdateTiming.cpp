#include "engine/UpdateTiming.h"

#include <algorithm>
#include <cstdio>

#include "platform/Trace.h"

namespace tarnflow {

bool UpdateIntervalLadder::OnSample(int cpuLoad, bool anyEntryBusy) {
    if (!anyEntryBusy) {
        if (updateInterval == kMinMs) {
            return false;
        }
        updateInterval = kMinMs;
        TraceF("Update Timer Changed to %dms\n", updateInterval);
        return true;
    }
    if (cpuLoad > 70 && updateInterval < kMaxMs) {
        if (highLoadSamples > 3) {
            updateInterval += kStepMs;
            highLoadSamples = 0;
            TraceF("OnKickIdle:Update Timer Changed to %dms\n", updateInterval);
            return true;
        }
        ++highLoadSamples;
    } else if (cpuLoad < 50 && updateInterval > kMinMs) {
        if (lowLoadSamples > 3) {
            updateInterval = std::max(updateInterval - kStepMs, kMinMs);
            lowLoadSamples = 0;
            TraceF("OnKickIdle:Update Timer Changed to %dms\n", updateInterval);
            return true;
        }
        ++lowLoadSamples;
    }
    return false;
}

std::string ElapsedTimeText(int64_t elapsedMs) {
    const int64_t seconds = std::max<int64_t>(elapsedMs, 0) / 1000;
    char text[48];
    std::snprintf(text, sizeof text, " %d min %d sec", static_cast<int>(seconds / 60),
                  static_cast<int>(seconds % 60));
    return text;
}

int ProgressRefreshMs(int connectedCount) {
    return std::min(500 * std::max(connectedCount, 1), 4000);
}

}  // namespace tarnflow
