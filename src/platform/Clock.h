#pragma once

#include <chrono>
#include <cstdint>

namespace tarnflow {

// Milliseconds on a monotonic time line. The program runs on the steady clock; tests run the
// same code on a virtual clock that moves only when told to.
class IClock {
  public:
    virtual ~IClock() = default;
    virtual int64_t NowMs() const = 0;
};

class SteadyClock : public IClock {
  public:
    int64_t NowMs() const override {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
};

class VirtualClock : public IClock {
  public:
    int64_t NowMs() const override { return now_; }
    void Set(int64_t ms) { now_ = ms; }
    void Advance(int64_t ms) { now_ += ms; }

  private:
    int64_t now_ = 0;
};

}  // namespace tarnflow
