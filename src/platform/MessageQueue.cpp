#include "platform/MessageQueue.h"

namespace tarnflow {

void MessageQueue::Post(const Message& message) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.push_back(message);
    }
    arrived_.notify_one();
}

std::optional<Message> MessageQueue::TryTake() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (messages_.empty()) {
        return std::nullopt;
    }
    Message message = messages_.front();
    messages_.pop_front();
    return message;
}

std::optional<Message> MessageQueue::WaitTake(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!arrived_.wait_for(lock, timeout, [this] { return !messages_.empty(); })) {
        return std::nullopt;
    }
    Message message = messages_.front();
    messages_.pop_front();
    return message;
}

size_t MessageQueue::Size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_.size();
}

}  // namespace tarnflow
