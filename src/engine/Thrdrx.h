#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "comm/QTextQ.h"
#include "comm/bsscomm.h"
#include "engine/ThrdBase.h"
#include "platform/OwnerWindow.h"

namespace tarnflow {

inline constexpr int kEntryCount = 20;

// One flag per entry: 0 while a receive thread may run, 1 once the entry's receive thread ended.
extern std::atomic<int> rxStopFlag[kEntryCount];

// The receive thread of one open entry: waits for input on the entry's port, reads it in chunks
// of at most 512 bytes, hands every chunk to the link's frame decoder and reports its own end
// with WM_RX_THREAD_END. It never writes to the port and never touches the engine's state.
//
// Life: construct, Start (parameters), Resume (thread runs). The thread ends when the port is
// closed or fails; the owner then joins it (Join or destruction) before it reuses the link.
class CThreadRX : public CThreadBase {
  public:
    static constexpr int kChunkMax = 512;

    ~CThreadRX() override;

    // User-interface thread, before Resume: stores the parameters and clears the entry's stop
    // flag.
    void Start(IOwnerWindow* owner, CBssComm* link, CTextQ* queue, int entry);

    // Queues a TEXT_PROGRESS item and posts WM_TEXT_QUEUED; empty texts are ignored.
    void PostThreadText(const std::string& text);

    int EntryIndex() const { return entryIndex; }

  protected:
    int Run() override;
    void End() override;

  private:
    void ReadBurst();

    uint8_t chunkBuffer[kChunkMax + 1] = {};
    IOwnerWindow* ownerWnd = nullptr;
    CTextQ* textQueue = nullptr;
    CBssComm* link = nullptr;
    int entryIndex = 0;
};

}  // namespace tarnflow
