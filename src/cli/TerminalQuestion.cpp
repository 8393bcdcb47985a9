#include "cli/TerminalQuestion.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>

#include "platform/OwnerWindow.h"

namespace tarnflow::cli {

namespace {

void Prompt() {
    std::fputs("[y/n]? ", stderr);
    std::fflush(stderr);
}

}  // namespace

int ParseAnswer(const std::string& line) {
    const size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return 0;
    }
    std::string word = line.substr(first, line.find_last_not_of(" \t\r") + 1 - first);
    std::transform(word.begin(), word.end(), word.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (word == "y" || word == "yes") {
        return IDYES;
    }
    if (word == "n" || word == "no") {
        return IDNO;
    }
    return 0;
}

TerminalQuestions::TerminalQuestions(MessageLoop& loop, int inputFd, uint32_t wakeMessage)
    : loop_(loop), inputFd_(inputFd), wakeMessage_(wakeMessage) {}

TerminalQuestions::~TerminalQuestions() {
    if (reader_.joinable()) {
        const uint64_t one = 1;
        (void)!write(stopFd_, &one, sizeof one);
        reader_.join();
    }
    if (stopFd_ >= 0) {
        close(stopFd_);
    }
}

int TerminalQuestions::Ask() {
    if (!reader_.joinable()) {
        stopFd_ = eventfd(0, EFD_CLOEXEC);
        if (stopFd_ < 0) {
            return IDNO;
        }
        reader_ = std::thread([this] { Read(); });
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++waiting_;
    }
    Prompt();
    loop_.RunUntil([this] {
        std::lock_guard<std::mutex> lock(mutex_);
        return !answers_.empty() || inputEnded_;
    });
    std::lock_guard<std::mutex> lock(mutex_);
    --waiting_;
    if (answers_.empty()) {
        return IDNO;
    }
    const int answer = answers_.front();
    answers_.pop_front();
    return answer;
}

// Lines typed while no question waits are not kept for a later one.
void TerminalQuestions::Accept(const std::string& line) {
    const int answer = ParseAnswer(line);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (waiting_ <= static_cast<int>(answers_.size())) {
            return;
        }
        if (answer != 0) {
            answers_.push_back(answer);
        }
    }
    if (answer == 0) {
        Prompt();
        return;
    }
    loop_.Post(Message{wakeMessage_, 0, 0});
}

void TerminalQuestions::Read() {
    std::string line;
    for (;;) {
        pollfd fds[2] = {{inputFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR) {
            break;
        }
        if (fds[1].revents != 0) {
            return;
        }
        if (fds[0].revents == 0) {
            continue;
        }
        char c = 0;
        const ssize_t n = read(inputFd_, &c, 1);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        if (c == '\n') {
            Accept(line);
            line.clear();
        } else {
            line += c;
        }
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        inputEnded_ = true;
    }
    loop_.Post(Message{wakeMessage_, 0, 0});
}

}  // namespace tarnflow::cli
