#include "cli/HeadlessHost.h"

#include <unistd.h>


namespace tarnflow::cli {

HeadlessHost::HeadlessHost(MessageLoop& loop, QuestionPolicy policy, bool liveProgress)
    : loop_(loop), policy_(policy), live_(liveProgress) {}

void HeadlessHost::PostMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    loop_.Post(Message{message, wParam, lParam});
}

int HeadlessHost::MessageBox(const std::string& text, MessageBoxStyle style) {
    FinishLiveLine();
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
    if (style != MessageBoxStyle::YesNo && style != MessageBoxStyle::YesNoExclamationModal) {
        return IDOK;
    }
    switch (policy_) {
        case QuestionPolicy::Yes:
            std::fprintf(stderr, "-> Yes\n");
            return IDYES;
        case QuestionPolicy::No:
            std::fprintf(stderr, "-> No\n");
            return IDNO;
        case QuestionPolicy::Ask:
            break;
    }
    return askQuestion_ ? askQuestion_() : IDNO;
}

void HeadlessHost::SetTimer(uint32_t id, int intervalMs) {
    loop_.SetTimer(id, intervalMs);
}

void HeadlessHost::KillTimer(uint32_t id) {
    loop_.KillTimer(id);
}

void HeadlessHost::ResetProgressBars() {
    lastLabel_.fill({});
    lastStage_.fill({});
}

void HeadlessHost::ShowEntryProgress(int entry, int stage, bool) {
    if (engine_ == nullptr || entry < 0 || entry >= kEntryCount) {
        return;
    }
    const ProgressView view = engine_->DescribeProgress(entry, stage);
    if (view.label == lastLabel_[entry]) {
        return;
    }
    lastLabel_[entry] = view.label;
    lastStage_[entry] = view.stageText;
    if (live_) {
        RedrawLiveLine();
    } else {
        std::printf("%s\n", view.label.c_str());
        std::fflush(stdout);
    }
}

void HeadlessHost::SetElapsedText(const std::string& text) {
    elapsed_ = text;
    if (live_) {
        RedrawLiveLine();
    }
}

std::vector<std::string> StatusLines(const std::string& text) {
    const size_t first = text.find_first_not_of('\n');
    if (first == std::string::npos) {
        return {};
    }
    const size_t last = text.find_last_not_of('\n');
    std::vector<std::string> lines;
    size_t start = first;
    while (start <= last) {
        const size_t end = std::min(text.find('\n', start), last + 1);
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

void HeadlessHost::PrintLogLine(int entry, const std::string& line) {
    if (live_ && liveLineShown_) {
        std::printf("\r\033[K");
        liveLineShown_ = false;
    }
    std::printf("Entry %d: %s\n", entry + 1, line.c_str());
}

void HeadlessHost::AppendStatusItem(int entry, const CTextQItem& item) {
    for (const auto& line : StatusLines(item.text)) {
        PrintLogLine(entry, line);
    }
    if (live_) {
        RedrawLiveLine();
    }
    std::fflush(stdout);
}

// One line for all entries on a terminal: "[1] 42% [2] Erasing Flash... | 0 min 12 sec".
void HeadlessHost::RedrawLiveLine() {
    std::string line;
    for (int i = 0; i < kEntryCount; ++i) {
        if (!lastStage_[i].empty()) {
            line += "[" + std::to_string(i + 1) + "] " + lastStage_[i] + "  ";
        }
    }
    if (!elapsed_.empty()) {
        line += "|" + elapsed_;
    }
    std::printf("\r\033[K%s", line.c_str());
    std::fflush(stdout);
    liveLineShown_ = true;
}

void HeadlessHost::FinishLiveLine() {
    if (live_ && liveLineShown_) {
        std::printf("\n");
        std::fflush(stdout);
        liveLineShown_ = false;
    }
}

void HeadlessHost::FlushQueuedTexts() {
    if (engine_ == nullptr) {
        return;
    }
    for (int i = 0; i < kEntryCount; ++i) {
        CTextQItem item;
        while (engine_->entries[i].textQueue.RemoveHead(item)) {
            for (const auto& line : StatusLines(item.text)) {
                PrintLogLine(i, line);
            }
        }
    }
    std::fflush(stdout);
}

}  // namespace tarnflow::cli
