// The step machine of an entry, the phase end and the end of a download.
#include <algorithm>
#include <cstdio>

#include "engine/DloadEngine.h"
#include "platform/Trace.h"

namespace tarnflow {

bool CDloadEngine::BlockInFlight(int i) const {
    const int step = entries[i].step;
    return step == DL_BOOT_PROGRAM || step == DL_PROGRAM || step == DL_RUN_END ||
           (step == DL_ERASE && currentKind == KIND_CODE_NEW && selection.m_bChangeBootArea);
}

int CDloadEngine::OnRxPacket(int i) {
    if (i < 0 || i >= kEntryCount) {
        return 1;
    }
    EntryRecord& e = entries[i];
    e.response = &e.link;
    host_.KillTimer(static_cast<uint32_t>(i));
    // An entry that is not downloading (never started, finished, or given up) has nothing to
    // answer, and one waiting for the others has nothing outstanding; a late or stray packet
    // must not restart it.
    if (e.outcome != EntryOutcome::Running || e.step == DL_WAIT) {
        return 1;
    }
    if (EvaluateResponse(i)) {
        e.resendCount = 0;
        DownloadSub(i);
    }
    return 1;
}

void CDloadEngine::SendBlock(int i) {
    EntryRecord& e = entries[i];
    if (!e.retryPending) {
        const uint16_t crc = image.GetBlockCrc(blockBase, static_cast<uint32_t>(e.blockIndex));
        e.link.SendImageBlockExpecting(e.blockRecord, crc);
    } else {
        e.link.SendRawBlock(e.blockRecord);
    }
}

bool CDloadEngine::SendBlockAt(int i, int index) {
    EntryRecord& e = entries[i];
    if (!image.GetBlock(blockBase, static_cast<uint32_t>(index), e.blockRecord)) {
        return false;
    }
    SendBlock(i);
    return true;
}

void CDloadEngine::DownloadSub(int i) {
    EntryRecord& e = entries[i];
    const bool compare = selection.m_nDloadType == DOWNLOAD_COMPARE;
    switch (e.step) {
        case DL_START:
            Trace("DownloadSub:DL_START\n");
            Trace("DownloadSub:DL_COPY\n");
            Trace("DownloadSub:DL_VERSION_SET\n");
            Trace("DownloadSub:DL_BAUD_SET\n");
            if (!e.jumpSent) {
                e.jumpSent = 1;
                e.noResponseCount = 0;
                e.link.RequestJump();
                SetEntryTimer(i, TIMER_COMMAND, 100000);
                return;
            }
            e.step = DL_START2;
            [[fallthrough]];
        case DL_START2:
            Trace("DownloadSub:DL_JUMP\n");
            Trace("DownloadSub:DL_START2\n");
            e.step = currentKind == KIND_CODE_NEW && selection.m_bChangeBootArea ? DL_BOOT_ERASE
                                                                                 : DL_ERASE;
            blockCount = static_cast<int>(byteCount >> 10);
            if (currentKind == KIND_CODE_NEW || currentKind == KIND_FONT) {
                e.link.RequestFlashErase(eraseStart, byteCount);
            } else {
                e.link.RequestFlashErase2(eraseStart, byteCount);
            }
            e.eraseWaitMs = 0;
            SetEntryTimer(i, TIMER_ERASE, 1000);
            return;
        case DL_BOOT_ERASE:
            if (blockCount == 0) {
                // Nothing to write: the phase is over for this entry.
                ShortPhaseEnd(i);
                return;
            }
            e.step = DL_BOOT_PROGRAM;
            QueueEntryText(i, TEXT_PROGRESS, "Boot Programming 중");
            if (SendBlockAt(i, e.blockIndex)) {
                ++e.blockIndex;
            }
            SetEntryTimer(i, TIMER_TRANSFER, 5000);
            return;
        case DL_BOOT_PROGRAM: {
            SendBlockAt(i, e.blockIndex);
            SetEntryTimer(i, TIMER_TRANSFER, 5000);
            const int b = e.blockIndex;
            const int bootBlocks = static_cast<int>(image.GetStartAddress() / 1024);
            if (b == bootBlocks && b != blockCount) {
                e.step = DL_ERASE;
                QueueEntryText(i, TEXT_PROGRESS, "Boot Processing...잠시만 기다리세요");
                e.blockIndex = b + 1;
            } else if (b != blockCount) {
                e.blockIndex = b + 1;
            } else {
                ShortPhaseEnd(i);
            }
            return;
        }
        case DL_ERASE:
            Trace("DownloadSub:DL_ERASE\n");
            if (blockCount == 0 || e.blockIndex >= blockCount) {
                // An empty image, or a boot-change image whose code is all sent: done.
                e.flashing = 1;
                EndPhase(i);
                return;
            }
            e.step = DL_PROGRAM;
            QueueEntryText(i, TEXT_PROGRESS, "Flash Programming 중");
            if (SendBlockAt(i, e.blockIndex)) {
                ++e.blockIndex;
                e.flashing = 0;
            }
            // A one-block compare run has nothing more to send: its first block is its last.
            if (compare && e.blockIndex >= blockCount) {
                e.step = DL_RUN_END;
            }
            SetEntryTimer(i, TIMER_TRANSFER, compare ? 3000 : 5000);
            return;
        case DL_PROGRAM:
            e.flashing = 1;
            if (compare) {
                if (SendBlockAt(i, e.blockIndex)) {
                    ++e.blockIndex;
                    SetEntryTimer(i, TIMER_TRANSFER, 3000);
                    if (e.blockIndex >= blockCount) {
                        e.step = DL_RUN_END;
                    }
                } else {
                    // Cannot happen with runs cut to the image; never leave the entry waiting.
                    SetEntryTimer(i, TIMER_TRANSFER, 3000);
                }
                return;
            }
            if (e.blockIndex < blockCount) {
                if (SendBlockAt(i, e.blockIndex)) {
                    ++e.blockIndex;
                }
                SetEntryTimer(i, TIMER_TRANSFER, 5000);
            } else {
                EndPhase(i);
            }
            return;
        case DL_RUN_END:
            e.flashing = 1;
            RefreshEntryProgress(i);
            {
                char text[64];
                std::snprintf(text, sizeof text, "Complete Dload Block %d\n", runCursor + 1);
                QueueEntryText(i, TEXT_NOTICE, text);
            }
            EndPhase(i);
            return;
        case DL_RESET:
            Trace("DownloadSub:DL_RESET\n");
            host_.ShowEntryProgress(i, PROG_COMPLETED, true);
            QueueEntryText(i, TEXT_NOTICE, "Downloading Completed.");
            e.outcome = EntryOutcome::Completed;
            e.endMs = clock_.NowMs();
            return;
        default:
            return;
    }
}

namespace {

bool IsActive(const EntryRecord& e) {
    return e.comPort != 0 && e.linkOpen && e.outcome == EntryOutcome::Running;
}

template <typename Predicate>
int CountEntries(const std::array<EntryRecord, kEntryCount>& entries, Predicate predicate) {
    return static_cast<int>(std::count_if(entries.begin(), entries.end(), predicate));
}

}  // namespace

int CDloadEngine::connectedCount() const {
    return CountEntries(entries, [](const EntryRecord& e) { return e.comPort != 0; });
}

int CDloadEngine::activeCount() const {
    return CountEntries(entries, IsActive);
}

int CDloadEngine::phaseDoneCount() const {
    return CountEntries(entries,
                        [](const EntryRecord& e) { return IsActive(e) && e.step == DL_WAIT; });
}

// When the first entry finishes an image, the entries of the download that never got going
// are let go: those still waiting for the answer to the start request or the jump, and those
// that gave up before programming. An entry working on the image (its erase sent, or blocks
// in flight) is never one of them, however slow.
bool CDloadEngine::IsStraggler(const EntryRecord& e) const {
    if (e.comPort == 0) {
        return false;
    }
    switch (e.outcome) {
        case EntryOutcome::Running:
            return e.step == DL_START;
        case EntryOutcome::Failed:
            return !e.flashing;
        default:
            return false;
    }
}

void CDloadEngine::DropStragglers() {
    for (int j = 0; j < kEntryCount; ++j) {
        EntryRecord& e = entries[j];
        if (!IsStraggler(e)) {
            continue;
        }
        MarkFailed(j);
        host_.ShowEntryProgress(j, PROG_ERROR, true);
        e.comPort = 0;  // it leaves the connected entries once, here
        e.rxRunning = 0;
        CloseEntry(j);
        QueueEntryText(j, TEXT_ERROR, "Unknown Error!");
    }
    host_.UpdateEntryLabels();
}

void CDloadEngine::EndPhase(int i) {
    host_.KillTimer(static_cast<uint32_t>(i));
    entries[i].step = DL_WAIT;
    if (phaseDoneCount() == 1) {
        DropStragglers();
    }
    if (phaseDoneCount() < activeCount()) {
        host_.ShowEntryProgress(i, PROG_NEXT_STEP, true);
        return;
    }
    ReleasePhase(true);
}

void CDloadEngine::ShortPhaseEnd(int i) {
    host_.KillTimer(static_cast<uint32_t>(i));
    entries[i].step = DL_WAIT;
    if (phaseDoneCount() < activeCount()) {
        return;
    }
    ReleasePhase(false);
}

// Every entry still downloading has finished the image (or the compare run): the next run or
// image starts for all of them, or the download ends with the final jump.
void CDloadEngine::ReleasePhase(bool showCompletion) {
    if (selection.m_nDloadType == DOWNLOAD_COMPARE &&
        static_cast<size_t>(runCursor) + 1 < downloadRuns_.size()) {
        ++runCursor;
        ApplyRunGeometry(runCursor);
        StartNextImage();
        return;
    }
    if (!AdvanceImage()) {
        // A later image that cannot be loaded ends the download for everyone; no block of it
        // is ever sent.
        FailRunningEntries();
        return;
    }
    if (currentKind != 0) {
        StartNextImage();
    } else {
        SendFinalJumps(showCompletion);
    }
}

void CDloadEngine::StartNextImage() {
    for (int j = 0; j < kEntryCount; ++j) {
        EntryRecord& e = entries[j];
        if (e.linkOpen && e.outcome == EntryOutcome::Running) {
            e.step = DL_START;
            e.blockIndex = 0;
            e.noResponseCount = 0;
            e.link.RequestDownloadStart();
            SetEntryTimer(j, TIMER_COMMAND, 3000);
        }
    }
}

void CDloadEngine::SendFinalJumps(bool showCompletion) {
    for (int j = 0; j < kEntryCount; ++j) {
        EntryRecord& e = entries[j];
        if (!e.linkOpen || e.outcome != EntryOutcome::Running) {
            continue;
        }
        e.jumpSent = 0;
        e.step = DL_RESET;
        e.noResponseCount = 0;
        e.link.RequestJump();
        e.blockIndex = 0;
        if (showCompletion) {
            host_.ShowEntryProgress(j, PROG_COMPLETED, true);
        }
        SetEntryTimer(j, TIMER_COMMAND, 5000);
    }
    if (showCompletion) {
        host_.KillTimer(ID_TIMER_ELAPSED);
        host_.MessageBox("Download Completed.", MessageBoxStyle::Ok);
    }
}

// An entry leaving the download waits for nothing more: its timer goes with it.
void CDloadEngine::MarkFailed(int i) {
    EntryRecord& e = entries[i];
    if (e.outcome != EntryOutcome::Running) {
        return;
    }
    host_.KillTimer(static_cast<uint32_t>(i));
    e.outcome = EntryOutcome::Failed;
    e.endMs = clock_.NowMs();
    if (e.comPort != 0) {
        host_.ShowEntryProgress(i, PROG_ERROR, true);
    }
}

void CDloadEngine::FailRunningEntries() {
    for (int j = 0; j < kEntryCount; ++j) {
        MarkFailed(j);
    }
    EndDownload();
}

// Run after every message and timer: entries that can no longer finish must not hold back the
// ones waiting at a phase end, and a download in which nobody can finish is over.
void CDloadEngine::CheckDownloadProgress() {
    if (!downloadRunning_) {
        return;
    }
    for (int j = 0; j < kEntryCount; ++j) {
        EntryRecord& e = entries[j];
        if (e.outcome != EntryOutcome::Running) {
            continue;
        }
        if (e.link.OutputFailed()) {
            EndOnLostOutput(j);
        } else if (e.comPort == 0 || !e.linkOpen) {
            MarkFailed(j);
        }
    }
    int running = 0;
    int waiting = 0;
    for (const auto& e : entries) {
        if (e.outcome == EntryOutcome::Running) {
            ++running;
            waiting += e.step == DL_WAIT ? 1 : 0;
        }
    }
    if (running == 0) {
        EndDownload();
    } else if (waiting == running) {
        ReleasePhase(true);
    }
}

void CDloadEngine::EndDownload() {
    if (!downloadRunning_) {
        return;
    }
    downloadRunning_ = false;
    host_.DownloadEnded();
}

// Entries still downloading stop where they are: no timer is left to send anything more, and
// they count as interrupted rather than failed.
void CDloadEngine::InterruptDownload() {
    for (int j = 0; j < kEntryCount; ++j) {
        EntryRecord& e = entries[j];
        if (e.outcome != EntryOutcome::Running) {
            continue;
        }
        host_.KillTimer(static_cast<uint32_t>(j));
        e.outcome = EntryOutcome::Interrupted;
        e.endMs = clock_.NowMs();
    }
    EndDownload();
}

}  // namespace tarnflow
