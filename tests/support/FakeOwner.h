#pragma once

#include <chrono>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/MessageQueue.h"
#include "platform/OwnerWindow.h"

namespace tarnflow::testing {

// An owner window for tests: posted notifications go to a queue the test reads, message boxes
// are recorded and answered from a script (IDYES/IDNO for questions, IDOK otherwise).
class FakeOwner : public IOwnerWindow {
  public:
    void PostMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
    int MessageBox(const std::string& text, MessageBoxStyle style) override;

    // Answers for the next Yes/No boxes, in order; without one a question is answered No.
    void AnswerNext(int answer);

    // Waits (a real-time safety net, never a measured time-out) for the next posted message.
    std::optional<Message> NextMessage(std::chrono::milliseconds limit = std::chrono::seconds(5));
    std::vector<Message> DrainMessages();

    struct Box {
        std::string text;
        MessageBoxStyle style;
    };
    std::vector<Box> Boxes() const;

    MessageQueue& Queue() { return queue_; }

  private:
    MessageQueue queue_;
    mutable std::mutex mutex_;
    std::vector<Box> boxes_;
    std::deque<int> answers_;
};

}  // namespace tarnflow::testing
