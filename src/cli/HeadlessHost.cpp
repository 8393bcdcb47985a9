#include "cli/HeadlessHost.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>

namespace tarnflow::cli {

namespace {

// Progress changes are drawn at most this often, so that twenty phones do not flood the
// terminal; log lines and the end are drawn at once.
constexpr int64_t kRedrawIntervalMs = 100;

// The terminal's size now, so that a resized terminal is followed; 80 x 24 when unknown.
TerminalSize QueryTerminalSize(std::FILE* out) {
    TerminalSize size;
    winsize cells{};
    if (ioctl(fileno(out), TIOCGWINSZ, &cells) == 0) {
        size.columns = cells.ws_col > 0 ? cells.ws_col : size.columns;
        size.rows = cells.ws_row > 0 ? cells.ws_row : size.rows;
    }
    return size;
}

}  // namespace

HeadlessHost::HeadlessHost(MessageLoop& loop, QuestionPolicy policy, bool liveProgress,
                           std::FILE* out)
    : loop_(loop),
      policy_(policy),
      out_(out),
      live_(liveProgress && TerminalTakesLiveProgress(std::getenv("TERM"))) {}

void HeadlessHost::PostMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    loop_.Post(Message{message, wParam, lParam});
}

int HeadlessHost::MessageBox(const std::string& text, MessageBoxStyle style) {
    lastMessage_ = text;
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
    blockStale_ = true;
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
        RedrawWhenDue();
    } else {
        std::fprintf(out_, "%s\n", view.label.c_str());
        std::fflush(out_);
    }
}

void HeadlessHost::SetElapsedText(const std::string& text) {
    elapsed_ = text;
    if (live_) {
        RedrawWhenDue();
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
    const std::string text = "Entry " + std::to_string(entry + 1) + ": " + line;
    if (live_) {
        pendingLog_.push_back(text);
    } else {
        std::fprintf(out_, "%s\n", text.c_str());
    }
}

void HeadlessHost::AppendStatusItem(int entry, const CTextQItem& item) {
    for (const auto& line : StatusLines(item.text)) {
        PrintLogLine(entry, line);
    }
    if (live_) {
        RedrawBlock();
    }
    std::fflush(out_);
}

void HeadlessHost::RedrawWhenDue() {
    blockStale_ = true;
    if (rowsShown_.empty() || loop_.NowMs() - lastDrawMs_ >= kRedrawIntervalMs) {
        RedrawBlock();
    }
}

void HeadlessHost::RedrawBlock() {
    const std::vector<std::string> rows = LiveRows(Snapshot(), QueryTerminalSize(out_));
    blockStale_ = false;
    if (rows == rowsShown_ && pendingLog_.empty()) {
        return;
    }
    const std::string bytes = RedrawBytes(static_cast<int>(rowsShown_.size()), pendingLog_, rows);
    std::fwrite(bytes.data(), 1, bytes.size(), out_);
    std::fflush(out_);
    pendingLog_.clear();
    rowsShown_ = rows;
    lastDrawMs_ = loop_.NowMs();
}

LiveSnapshot HeadlessHost::Snapshot() const {
    LiveSnapshot snapshot;
    for (int i = 0; i < kEntryCount; ++i) {
        if (!lastLabel_[i].empty()) {
            snapshot.entries.push_back({lastLabel_[i], lastStage_[i]});
        }
    }
    snapshot.elapsedText = elapsed_;
    if (engine_ != nullptr) {
        snapshot.bytesAcknowledged = BytesAcknowledged(*engine_);
        snapshot.elapsedMs = loop_.NowMs() - engine_->startClock;
        snapshot.bytesToGo = BytesToGo(*engine_);
        snapshot.partName = engine_->selection.m_nDloadType == DOWNLOAD_COMPARE ? "run" : "image";
    }
    return snapshot;
}

void HeadlessHost::FinishLiveLine() {
    if (!live_) {
        return;
    }
    if (blockStale_ || !pendingLog_.empty()) {
        RedrawBlock();
    }
    // Every row ends with a newline: the cursor is on a fresh line below the block already, and
    // the block stays as it is, later output going below it.
    rowsShown_.clear();
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
    if (live_ && !pendingLog_.empty()) {
        RedrawBlock();
    }
    std::fflush(out_);
}

}  // namespace tarnflow::cli
