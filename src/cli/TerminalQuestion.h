#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "platform/MessageLoop.h"

namespace tarnflow::cli {

// Yes/No questions asked on the terminal while the message loop goes on: the other phones keep
// downloading and a signal still ends the run. A thread of its own reads the answers and wakes
// the loop with `wakeMessage`, which the loop's handler should ignore.
class TerminalQuestions {
  public:
    TerminalQuestions(MessageLoop& loop, int inputFd, uint32_t wakeMessage);
    ~TerminalQuestions();
    TerminalQuestions(const TerminalQuestions&) = delete;
    TerminalQuestions& operator=(const TerminalQuestions&) = delete;

    // Prompts on standard error and returns IDYES or IDNO once a line answers; IDNO when the
    // input ends or the loop is told to quit first. Questions asked while one waits (another
    // phone's) are answered first, as stacked message boxes are.
    int Ask();

  private:
    void Read();
    void Accept(const std::string& line);

    MessageLoop& loop_;
    int inputFd_;
    uint32_t wakeMessage_;
    int stopFd_ = -1;
    std::thread reader_;

    std::mutex mutex_;
    int waiting_ = 0;  // questions waiting for an answer
    std::deque<int> answers_;
    bool inputEnded_ = false;
};

// IDYES for "y"/"yes", IDNO for "n"/"no" (any case, surrounding blanks ignored), else 0.
int ParseAnswer(const std::string& line);

}  // namespace tarnflow::cli
