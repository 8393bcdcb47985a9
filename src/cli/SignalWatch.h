#pragma once

#include <signal.h>

#include <atomic>
#include <functional>
#include <thread>

namespace tarnflow::cli {

// SIGINT, SIGTERM and SIGHUP end a run. They are blocked in every thread and taken by a thread
// of their own through a signalfd, so that no thread is cut off in the middle of a call and the
// run hears of them through `onSignal` (called on that thread). SIGPIPE is ignored meanwhile: a
// closed standard output must not end a download. Start before any other thread, so that every
// later thread inherits the blocked signals; the destructor puts everything back.
class SignalWatch {
  public:
    SignalWatch() = default;
    ~SignalWatch();
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

    bool Start(std::function<void(int signal)> onSignal);

    // The first signal taken, or 0.
    int Received() const { return received_.load(); }

  private:
    void Watch();

    std::function<void(int)> onSignal_;
    std::atomic<int> received_{0};
    int signalFd_ = -1;
    int stopFd_ = -1;  // eventfd that ends the watching thread
    std::thread thread_;
    sigset_t oldMask_{};
    struct sigaction oldPipe_ {};
    bool started_ = false;
};

}  // namespace tarnflow::cli
