#include "support/FakeOwner.h"

namespace tarnflow::testing {

void FakeOwner::PostMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    queue_.Post(Message{message, wParam, lParam});
}

int FakeOwner::MessageBox(const std::string& text, MessageBoxStyle style) {
    std::lock_guard<std::mutex> lock(mutex_);
    boxes_.push_back(Box{text, style});
    if (style != MessageBoxStyle::YesNo && style != MessageBoxStyle::YesNoExclamationModal) {
        return IDOK;
    }
    if (answers_.empty()) {
        return IDNO;
    }
    const int answer = answers_.front();
    answers_.pop_front();
    return answer;
}

void FakeOwner::AnswerNext(int answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    answers_.push_back(answer);
}

std::optional<Message> FakeOwner::NextMessage(std::chrono::milliseconds limit) {
    return queue_.WaitTake(limit);
}

std::vector<Message> FakeOwner::DrainMessages() {
    std::vector<Message> all;
    while (auto message = queue_.TryTake()) {
        all.push_back(*message);
    }
    return all;
}

std::vector<FakeOwner::Box> FakeOwner::Boxes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return boxes_;
}

}  // namespace tarnflow::testing
