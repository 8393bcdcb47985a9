#pragma once

#include <cstdint>
#include <string>

namespace tarnflow {

// The update timer's interval follows the processor load while downloads run: the fifth sample
// above 70 % since the last change lengthens it by 500 ms (at most 4000), the fifth below 50 %
// shortens it (at least 500); with no entry busy it is 500 again at once.
class UpdateIntervalLadder {
  public:
    static constexpr int kMinMs = 500;
    static constexpr int kMaxMs = 4000;
    static constexpr int kStepMs = 500;

    // Takes one load sample; true when the interval changed (the timer must be re-armed).
    bool OnSample(int cpuLoad, bool anyEntryBusy);

    int Interval() const { return updateInterval; }

    int updateInterval = kMinMs;
    int highLoadSamples = 0;
    int lowLoadSamples = 0;
};

// " %d min %d sec" for the whole seconds of `elapsedMs`.
std::string ElapsedTimeText(int64_t elapsedMs);

// The least time between two display refreshes for this many phones: 500 ms each, up to 4000.
int ProgressRefreshMs(int connectedCount);

}  // namespace tarnflow
