#pragma once

#include <chrono>
#include <thread>

namespace tarnflow::testing {

// Polls `condition` until it holds; false when `limit` passed first. The limit is a real-time
// safety net against hangs, never a measured time.
template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace tarnflow::testing
