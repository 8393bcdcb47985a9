#include "platform/MessageLoop.h"

#include <algorithm>

namespace tarnflow {

MessageLoop::MessageLoop(IClock& clock, VirtualClock* virtualClock)
    : clock_(clock), virtualClock_(virtualClock) {}

void MessageLoop::SetHandlers(MessageHandler onMessage, TimerHandler onTimer) {
    onMessage_ = std::move(onMessage);
    onTimer_ = std::move(onTimer);
}

void MessageLoop::Post(const Message& message) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.push_back(message);
    }
    posted_.notify_one();
}

void MessageLoop::SetTimer(uint32_t id, int64_t intervalMs) {
    const int64_t interval = std::max<int64_t>(intervalMs, 1);
    timers_[id] = Timer{interval, clock_.NowMs() + interval};
}

void MessageLoop::KillTimer(uint32_t id) {
    timers_.erase(id);
}

bool MessageLoop::TimerArmed(uint32_t id) const {
    return timers_.count(id) != 0;
}

int64_t MessageLoop::TimerInterval(uint32_t id) const {
    const auto it = timers_.find(id);
    return it == timers_.end() ? 0 : it->second.intervalMs;
}

int MessageLoop::DispatchPosted() {
    int handled = 0;
    for (;;) {
        Message message;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (messages_.empty()) {
                return handled;
            }
            message = messages_.front();
            messages_.pop_front();
        }
        if (onMessage_) {
            onMessage_(message);
        }
        ++handled;
    }
}

int64_t MessageLoop::NextDueMs() const {
    int64_t next = INT64_MAX;
    for (const auto& [id, timer] : timers_) {
        next = std::min(next, timer.dueMs);
    }
    return next;
}

// Fires the earliest timer that is due; ties go to the lower ID.
bool MessageLoop::FireOneDueTimer() {
    const int64_t now = clock_.NowMs();
    auto due = timers_.end();
    for (auto it = timers_.begin(); it != timers_.end(); ++it) {
        if (it->second.dueMs <= now &&
            (due == timers_.end() || it->second.dueMs < due->second.dueMs)) {
            due = it;
        }
    }
    if (due == timers_.end()) {
        return false;
    }
    const uint32_t id = due->first;
    // A periodic timer is due again one interval after it fired, as a window timer is.
    due->second.dueMs = now + due->second.intervalMs;
    if (onTimer_) {
        onTimer_(id);
    }
    return true;
}

void MessageLoop::Run(int64_t untilMs) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = false;
    }
    Loop(untilMs, [] { return false; });
}

void MessageLoop::RunUntil(const std::function<bool()>& done) {
    Loop(INT64_MAX, done);
}

void MessageLoop::Loop(int64_t untilMs, const std::function<bool()>& done) {
    for (;;) {
        DispatchPosted();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (quit_) {
                return;
            }
        }
        if (done()) {
            return;
        }
        if (FireOneDueTimer()) {
            continue;
        }
        const int64_t now = clock_.NowMs();
        if (now >= untilMs) {
            return;
        }
        const int64_t wakeAt = std::min(NextDueMs(), untilMs);
        std::unique_lock<std::mutex> lock(mutex_);
        posted_.wait_for(lock, std::chrono::milliseconds(std::max<int64_t>(wakeAt - now, 0)),
                         [this] { return quit_ || !messages_.empty(); });
    }
}

bool MessageLoop::WaitAndDispatch(std::chrono::milliseconds limit) {
    {
        std::unique_lock<std::mutex> lock(mutex_);
        posted_.wait_for(lock, limit, [this] { return !messages_.empty(); });
    }
    return DispatchPosted() > 0;
}

void MessageLoop::Quit() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    posted_.notify_all();
}

void MessageLoop::AdvanceBy(int64_t ms) {
    if (virtualClock_ == nullptr) {
        return;
    }
    const int64_t target = virtualClock_->NowMs() + ms;
    for (;;) {
        DispatchPosted();
        while (FireOneDueTimer()) {
            DispatchPosted();
        }
        const int64_t next = NextDueMs();
        if (next > target) {
            break;
        }
        virtualClock_->Set(std::max(next, virtualClock_->NowMs()));
    }
    virtualClock_->Set(target);
    DispatchPosted();
}

}  // namespace tarnflow
