#include "engine/Thrdrx.h"

#include <chrono>
#include <thread>

#include "platform/Messages.h"
#include "platform/Trace.h"

namespace tarnflow {

std::atomic<int> rxStopFlag[kEntryCount] = {};

namespace {
constexpr auto kBurstPause = std::chrono::milliseconds(5);
}  // namespace

CThreadRX::~CThreadRX() {
    Join();
}

void CThreadRX::Start(IOwnerWindow* owner, CBssComm* linkObject, CTextQ* queue, int entry) {
    ownerWnd = owner;
    link = linkObject;
    textQueue = queue;
    entryIndex = entry;
    rxStopFlag[entry].store(0);
}

void CThreadRX::PostThreadText(const std::string& text) {
    if (text.empty() || textQueue == nullptr) {
        return;
    }
    textQueue->Add(TEXT_PROGRESS, text);
    if (ownerWnd != nullptr) {
        ownerWnd->PostMessage(WM_TEXT_QUEUED, static_cast<uintptr_t>(entryIndex), 0);
    }
}

int CThreadRX::Run() {
    if (link == nullptr || ownerWnd == nullptr || textQueue == nullptr || entryIndex < 0 ||
        entryIndex >= kEntryCount) {
        return 0;
    }
    if (!link->ArmReceiveWait()) {
        PostThreadText("\nFail to set Comm mask\n\n");
        return 0;
    }
    while (rxStopFlag[entryIndex].load() == 0) {
        // Anything but waiting input means the port is being closed or has gone away.
        const WaitResult result = link->WaitForInput();
        if (result != WaitResult::Data) {
            TraceF("RX wait ended: %s (%s)\n", result == WaitResult::Closing ? "closing" : "failed",
                   SerialErrorText(link->Port().LastError()));
            return 0;
        }
        ReadBurst();
    }
    Trace("\nOut of While");
    return 0;
}

// A burst lasts until one read cycle finds nothing waiting; after an overflow the rest of the
// burst is read and dropped.
void CThreadRX::ReadBurst() {
    link->BeginBurst();
    int keepGoing = 1;
    for (;;) {
        std::this_thread::sleep_for(kBurstPause);
        const int n = link->Read(chunkBuffer, kChunkMax);
        if (n <= 0) {
            return;
        }
        if (keepGoing == 1) {
            keepGoing = link->ProcessReceived(chunkBuffer, n, entryIndex);
        }
    }
}

void CThreadRX::End() {
    std::this_thread::yield();
    // The flag goes up before the notice, so whoever handles the notice sees the thread as over.
    if (entryIndex >= 0 && entryIndex < kEntryCount) {
        rxStopFlag[entryIndex].store(1);
    }
    if (ownerWnd != nullptr) {
        ownerWnd->PostMessage(WM_RX_THREAD_END, static_cast<uintptr_t>(entryIndex), 0);
    }
    Trace("END__RX\n");
}

}  // namespace tarnflow
