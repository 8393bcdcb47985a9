#pragma once

#include <array>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "cli/LiveView.h"
#include "engine/DloadEngine.h"
#include "engine/EngineHost.h"
#include "platform/MessageLoop.h"

namespace tarnflow::cli {

enum class QuestionPolicy { Yes, No, Ask };

// The engine's host without a window: timers and posted messages on a MessageLoop, status
// texts and progress on standard output (or the stream given), message boxes on standard error,
// questions answered by policy or asked on the terminal.
class HeadlessHost : public IEngineHost {
  public:
    // `liveProgress`: `out` is a terminal. With a TERM that takes cursor movement the progress
    // is a block of rows redrawn in place at the bottom; otherwise one line per change.
    HeadlessHost(MessageLoop& loop, QuestionPolicy policy, bool liveProgress,
                 std::FILE* out = stdout);

    void AttachEngine(CDloadEngine* engine) { engine_ = engine; }
    // Asks a Yes/No question on the terminal for QuestionPolicy::Ask, the text already shown;
    // returns IDYES or IDNO. Without one the answer is No.
    void SetQuestionAsker(std::function<int()> ask) { askQuestion_ = std::move(ask); }
    // The text of the latest message box: what a refused download gave as its reason.
    const std::string& LastMessage() const { return lastMessage_; }

    void PostMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
    int MessageBox(const std::string& text, MessageBoxStyle style) override;
    void SetTimer(uint32_t id, int intervalMs) override;
    void KillTimer(uint32_t id) override;
    void ShowEntryProgress(int entry, int stage, bool redraw) override;
    void UpdateEntryLabels() override {}
    void ResetProgressBars() override;
    void AppendStatusItem(int entry, const CTextQItem& item) override;
    void SetElapsedText(const std::string& text) override;
    void UpdateData(bool) override {}

    // Prints what is still queued for every entry, e.g. texts queued after an entry was closed.
    void FlushQueuedTexts();
    // Draws the live block's latest state and leaves it there, so that later output starts on
    // a fresh line below it.
    void FinishLiveLine();

  private:
    void PrintLogLine(int entry, const std::string& line);
    void RedrawWhenDue();
    void RedrawBlock();
    LiveSnapshot Snapshot() const;

    MessageLoop& loop_;
    CDloadEngine* engine_ = nullptr;
    QuestionPolicy policy_;
    std::function<int()> askQuestion_;
    std::string lastMessage_;
    std::FILE* out_;
    bool live_;
    std::array<std::string, kEntryCount> lastLabel_;
    std::array<std::string, kEntryCount> lastStage_;
    std::string elapsed_;
    // The live block: log lines waiting to go above it, the rows on screen, and whether the
    // rows drawn last are behind the state.
    std::vector<std::string> pendingLog_;
    std::vector<std::string> rowsShown_;
    bool blockStale_ = false;
    int64_t lastDrawMs_ = 0;
};

// Splits a status text into the lines it prints as: surrounding newlines trimmed, every inner
// newline starting a line of its own.
std::vector<std::string> StatusLines(const std::string& text);

}  // namespace tarnflow::cli
