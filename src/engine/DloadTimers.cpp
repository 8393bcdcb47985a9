// Entry time-outs, the load sample, the update run and the elapsed time.
#include <cstdio>
#include <cstdlib>

#include "engine/DloadEngine.h"
#include "platform/FormatText.h"
#include "platform/Trace.h"

namespace tarnflow {

void CDloadEngine::OnMessage(const Message& message) {
    const int entry = static_cast<int>(message.wParam);
    switch (message.message) {
        case WM_RX_PACKET:
            OnRxPacket(entry);
            break;
        case WM_RX_THREAD_END:
            OnRxThreadEnd(entry);
            break;
        case WM_TEXT_QUEUED:
            OnTextQueued(entry);
            break;
        default:
            break;
    }
    CheckDownloadProgress();
}

void CDloadEngine::OnTimer(uint32_t id) {
    if (id < static_cast<uint32_t>(kEntryCount)) {
        OnEntryTimeout(static_cast<int>(id));
    } else if (id == ID_TIMER_CPU) {
        OnLoadSample();
    } else if (id == ID_TIMER_UPDATE) {
        OnKickIdle(10000);
    } else if (id == ID_TIMER_ELAPSED) {
        ShowElapsedTime();
        if (!IsAnyEntryBusy()) {
            host_.KillTimer(ID_TIMER_ELAPSED);
        }
    }
    CheckDownloadProgress();
}

void CDloadEngine::OnEntryTimeout(int i) {
    EntryRecord& e = entries[i];
    host_.KillTimer(static_cast<uint32_t>(i));
    if (e.timerKind == TIMER_ERASE) {
        e.eraseWaitMs += e.timerInterval;
    }
    // What was sent never fully left: a retry would only queue behind it, and the phone would
    // take the rest of a block as the start of the next one.
    if (e.link.OutputFailed() ||
        (e.link.OutputPending() &&
         (e.timerKind != TIMER_ERASE || e.eraseWaitMs >= kOutputWaitLimitMs))) {
        EndOnLostOutput(i);
        return;
    }
    if (e.timerKind == TIMER_ERASE) {
        if (e.eraseWaitMs < kEraseLimitMs) {
            host_.SetTimer(static_cast<uint32_t>(i), 1000);
            return;
        }
        QueueEntryText(i, TEXT_ERROR, "응답이 없습니다.");
        MarkFailed(i);
        return;
    }
    ++e.noResponseCount;
    if (e.noResponseCount < 3) {
        ++e.retries;
        if (BlockInFlight(i)) {
            QueueEntryText(
                i, TEXT_NOTICE,
                FormatText("No response, retry at 0x%x", BlockAddress(e.blockIndex - 1)));
            e.link.SendRawBlock(CDloadFile::GetRetryPacket());
            e.retryPending = 1;
        } else {
            e.link.ResendLastRequest();
        }
        SetEntryTimer(i, e.timerKind, e.timerInterval);
        return;
    }
    if (e.timerKind == TIMER_COMMAND) {
        e.noResponseCount = 0;
        QueueEntryText(i, TEXT_ERROR, "응답이 없습니다.");
        MarkFailed(i);
        return;
    }
    GiveUpTransfer(i);
}

// The end of a transfer that got no usable answer: the entry leaves the download and, in the
// middle of one, its slot. Its link and receive thread are left running.
void CDloadEngine::GiveUpTransfer(int i) {
    EntryRecord& e = entries[i];
    QueueEntryText(i, TEXT_ERROR, "응답없음. 처음부터 다시 해주시기 바랍니다.");
    MarkFailed(i);
    if (e.step != DL_START && e.step != DL_RESET && e.comPort != 0) {
        host_.ShowEntryProgress(i, PROG_ERROR, true);
        e.comPort = 0;
        e.linkOpen = 0;
    }
    e.response = nullptr;
    e.step = DL_START;
}

// The entry's output cannot reach the phone: the entry ends and its link is closed, which
// also drops what was still waiting to be written.
void CDloadEngine::EndOnLostOutput(int i) {
    const char* text = entries[i].link.OutputFailed()
                           ? "Write to the phone failed: the port is gone or broken."
                           : "Write to the phone did not complete: the line stayed held (XOFF).";
    CloseEntry(i);
    QueueEntryText(i, TEXT_ERROR, text);
}

void CDloadEngine::OnLoadSample() {
    cpuLoad = perfMonitor.GetCpuLoad();
    if (ladder.OnSample(cpuLoad, IsAnyEntryBusy())) {
        host_.KillTimer(ID_TIMER_UPDATE);
        host_.SetTimer(ID_TIMER_UPDATE, ladder.Interval());
    }
}

int CDloadEngine::OnKickIdle(int count) {
    const int64_t now = clock_.NowMs();
    if (static_cast<uint32_t>(now - lastKickTick_) <= static_cast<uint32_t>(m_nProgressRefreshMs)) {
        return 0;
    }
    if (cpuLoad >= 90) {
        TraceF("OnKickIdle: %3d%% (SKIP)\n", cpuLoad);
        return 0;
    }
    host_.UpdateDialogControls();
    for (int i = 0; i < kEntryCount; ++i) {
        OnUpdateProgress(i);
    }
    int moved = 0;
    for (int i = 0; i < kEntryCount; ++i) {
        moved |= OnTextQueued(i);
    }
    lastKickTick_ = now;
    return count <= 1000 ? moved : 0;
}

void CDloadEngine::OnUpdateProgress(int i) {
    const int64_t now = clock_.NowMs();
    const int32_t since = static_cast<int32_t>(static_cast<uint32_t>(now - lastRefresh_[i]));
    if (std::abs(static_cast<int64_t>(since)) > m_nProgressRefreshMs) {
        lastRefresh_[i] = now;
        RefreshEntryProgress(i);
    }
}

void CDloadEngine::RefreshEntryProgress(int i) {
    if (!entries[i].linkOpen) {
        return;
    }
    host_.ShowEntryProgress(i, StageForStep(entries[i].step), false);
}

void CDloadEngine::ShowElapsedTime() {
    const int64_t seconds = (clock_.NowMs() - startClock) / 1000;
    const int minutes = static_cast<int>(seconds / 60);
    const int rest = static_cast<int>(seconds % 60);
    if (minutes == lastShownMinutes_ && rest == lastShownSeconds_) {
        return;
    }
    host_.SetElapsedText(ElapsedTimeText(clock_.NowMs() - startClock));
    lastShownMinutes_ = minutes;
    lastShownSeconds_ = rest;
}

int CDloadEngine::OnTextQueued(int i) {
    if (i < 0 || i >= kEntryCount || !entries[i].linkOpen) {
        return 0;
    }
    CTextQItem item;
    if (!entries[i].textQueue.RemoveHead(item)) {
        return 0;
    }
    host_.AppendStatusItem(i, item);
    return 1;
}

int CDloadEngine::OnRxThreadEnd(int i) {
    if (i < 0 || i >= kEntryCount) {
        return 1;
    }
    EntryRecord& e = entries[i];
    // The end of a thread from an earlier open of this entry: the current thread still runs.
    if (e.rxThread && rxStopFlag[i].load() == 0) {
        return 1;
    }
    e.rxRunning = 0;
    CloseEntry(i);
    // An entry dropped after time-outs kept its link; its thread is over now, so is the link.
    if (e.rxThread) {
        e.link.Shutdown();
        e.rxThread.reset();
    }
    return 1;
}

ProgressView CDloadEngine::DescribeProgress(int entry, int stage) const {
    ProgressInput input;
    input.entry = entry;
    input.comPort = entries[entry].comPort;
    input.stage = stage;
    input.blockBase = blockBase;
    input.blockIndex = entries[entry].blockIndex;
    input.blockCount = blockCount;
    input.imageSize = m_dwImageSize;
    return tarnflow::DescribeProgress(input);
}

}  // namespace tarnflow
