#include "phonesim/LineQueues.h"

#include <algorithm>

namespace tarnflow::phonesim {

namespace {

constexpr int64_t kBitsPerByte = 10;
constexpr int64_t kNanosPerSecond = 1'000'000'000;

}  // namespace

Nanos ByteTime(uint32_t baud) {
    if (baud == 0) {
        return Nanos::zero();
    }
    return Nanos(kBitsPerByte * kNanosPerSecond / baud);
}

void InputQueue::Push(const uint8_t* bytes, size_t count, TimePoint now) {
    for (size_t i = 0; i < count; ++i) {
        lineFree_ = std::max(now, lineFree_) + byteTime_;
        bytes_.push_back(bytes[i]);
        ready_.push_back(byteTime_ == Nanos::zero() ? now : lineFree_);
    }
}

std::vector<uint8_t> InputQueue::Take(size_t count) {
    count = std::min(count, bytes_.size());
    std::vector<uint8_t> out(bytes_.begin(), bytes_.begin() + static_cast<ptrdiff_t>(count));
    Drop(count);
    return out;
}

void InputQueue::Drop(size_t count) {
    count = std::min(count, bytes_.size());
    bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<ptrdiff_t>(count));
    ready_.erase(ready_.begin(), ready_.begin() + static_cast<ptrdiff_t>(count));
}

void InputQueue::Clear() {
    bytes_.clear();
    ready_.clear();
}

void OutputQueue::Push(const std::vector<uint8_t>& bytes, TimePoint now) {
    for (const uint8_t byte : bytes) {
        lineFree_ = std::max(now, lineFree_) + byteTime_;
        bytes_.emplace_back(byte, byteTime_ == Nanos::zero() ? now : lineFree_);
    }
}

void OutputQueue::TakeDue(TimePoint now, std::vector<uint8_t>& out) {
    while (!bytes_.empty() && bytes_.front().second <= now) {
        out.push_back(bytes_.front().first);
        bytes_.pop_front();
    }
}

std::optional<TimePoint> OutputQueue::NextDue() const {
    if (bytes_.empty()) {
        return std::nullopt;
    }
    return bytes_.front().second;
}

}  // namespace tarnflow::phonesim
