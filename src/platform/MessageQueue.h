#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

#include "platform/Messages.h"

namespace tarnflow {

// A thread-safe queue of posted notifications: any thread posts, the owner's thread takes them
// in the order posted. The headless message loop and the tests' owner windows are built on it.
class MessageQueue {
  public:
    void Post(const Message& message);

    // The oldest message, or nothing when the queue is empty. Never blocks.
    std::optional<Message> TryTake();

    // The oldest message, waiting at most `timeout` for one to arrive.
    std::optional<Message> WaitTake(std::chrono::milliseconds timeout);

    size_t Size() const;

  private:
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<Message> messages_;
};

}  // namespace tarnflow
