#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>

#include "platform/Clock.h"
#include "platform/Messages.h"

namespace tarnflow {

// The headless stand-in for a window's message loop: messages posted from any thread, and
// periodic timers by ID, all handled on the thread that runs the loop. Posted messages go
// before timers, as window timers are the lowest-priority messages.
//
// With the steady clock the loop sleeps until the next message or timer. With a virtual clock
// it never sleeps for a timer: AdvanceBy moves the clock forward and fires the timers that fall
// due on the way, in time order.
class MessageLoop {
  public:
    using MessageHandler = std::function<void(const Message&)>;
    using TimerHandler = std::function<void(uint32_t id)>;

    explicit MessageLoop(IClock& clock, VirtualClock* virtualClock = nullptr);

    void SetHandlers(MessageHandler onMessage, TimerHandler onTimer);

    // Any thread.
    void Post(const Message& message);
    // Loop thread only. A timer set again with the same ID replaces the earlier one.
    void SetTimer(uint32_t id, int64_t intervalMs);
    void KillTimer(uint32_t id);
    bool TimerArmed(uint32_t id) const;
    int64_t TimerInterval(uint32_t id) const;

    // Handles every message already posted; returns how many.
    int DispatchPosted();

    // Steady clock: handles messages and timers until Quit or `until` (absolute ms) passes.
    void Run(int64_t untilMs = INT64_MAX);
    // Steady clock: handles messages and timers until `done` holds (checked after each one) or
    // Quit is called. Nested inside a handler (a question awaiting its answer) it keeps the
    // other entries going; a Quit during it ends the outer Run as well.
    void RunUntil(const std::function<bool()>& done);
    // Waits for a posted message up to `limit` of real time and handles what arrived. For the
    // virtual clock, where real threads (receive threads, simulated phones) still post.
    bool WaitAndDispatch(std::chrono::milliseconds limit);
    void Quit();

    // Virtual clock only: moves time forward by `ms`, firing due timers in order and handling
    // the messages they cause.
    void AdvanceBy(int64_t ms);

    int64_t NowMs() const { return clock_.NowMs(); }

  private:
    struct Timer {
        int64_t intervalMs;
        int64_t dueMs;
    };
    bool FireOneDueTimer();
    void Loop(int64_t untilMs, const std::function<bool()>& done);
    int64_t NextDueMs() const;

    IClock& clock_;
    VirtualClock* virtualClock_;
    MessageHandler onMessage_;
    TimerHandler onTimer_;
    std::map<uint32_t, Timer> timers_;

    std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<Message> messages_;
    bool quit_ = false;
};

}  // namespace tarnflow
