#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace tarnflow::phonesim {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;
using Nanos = std::chrono::nanoseconds;

// Time one byte takes on a line at `baud` bit/s, 10 bits per byte; zero for 0 (unpaced).
Nanos ByteTime(uint32_t baud);

// Bytes from the tool with the time each one has finished arriving on the line. Bytes are read
// from the pseudo-terminal at once; with pacing each is "ready" only when a real line would have
// delivered it, so the phone handles a message when its last byte has come.
class InputQueue {
  public:
    explicit InputQueue(Nanos byteTime = Nanos::zero()) : byteTime_(byteTime) {}

    void Push(const uint8_t* bytes, size_t count, TimePoint now);
    size_t Size() const { return bytes_.size(); }
    uint8_t At(size_t index) const { return bytes_[index]; }
    TimePoint ReadyAt(size_t index) const { return ready_[index]; }
    std::vector<uint8_t> Take(size_t count);
    void Drop(size_t count);
    void Clear();

  private:
    Nanos byteTime_;
    TimePoint lineFree_{};
    std::deque<uint8_t> bytes_;
    std::deque<TimePoint> ready_;
};

// Bytes to the tool with the time each is to be written: all at once when unpaced, else one
// byte time apart as a real line would carry them.
class OutputQueue {
  public:
    explicit OutputQueue(Nanos byteTime = Nanos::zero()) : byteTime_(byteTime) {}

    void Push(const std::vector<uint8_t>& bytes, TimePoint now);
    // Appends the bytes due by `now` to `out`.
    void TakeDue(TimePoint now, std::vector<uint8_t>& out);
    std::optional<TimePoint> NextDue() const;

  private:
    Nanos byteTime_;
    TimePoint lineFree_{};
    std::deque<std::pair<uint8_t, TimePoint>> bytes_;
};

}  // namespace tarnflow::phonesim
