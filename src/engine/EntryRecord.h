#pragma once

#include <memory>
#include <string>

#include "comm/BlockRecord.h"
#include "comm/QTextQ.h"
#include "comm/bsscomm.h"
#include "engine/Thrdrx.h"

namespace tarnflow {

// Download steps of an entry.
inline constexpr int DL_START = 0;
inline constexpr int DL_VERSION_SET = 1;
inline constexpr int DL_COPY = 2;
inline constexpr int DL_BAUD_SET = 3;
inline constexpr int DL_JUMP = 5;
inline constexpr int DL_START2 = 6;
inline constexpr int DL_BOOT_ERASE = 7;
inline constexpr int DL_BOOT_PROGRAM = 8;
inline constexpr int DL_ERASE = 9;
inline constexpr int DL_PROGRAM = 10;
inline constexpr int DL_WAIT = 11;
inline constexpr int DL_RESET = 12;
inline constexpr int DL_RUN_END = 13;

// Kinds of entry timer.
inline constexpr int TIMER_COMMAND = 0;
inline constexpr int TIMER_TRANSFER = 2;
inline constexpr int TIMER_ERASE = 4;

// Window timers besides the entry timers 0 to 19.
inline constexpr unsigned ID_TIMER_CPU = 424;
inline constexpr unsigned ID_TIMER_UPDATE = 425;
inline constexpr unsigned ID_TIMER_ELAPSED = 426;

// Display stages of an entry.
inline constexpr int PROG_ERROR = 0;
inline constexpr int PROG_ERASING = 1;
inline constexpr int PROG_PREPARING = 2;
inline constexpr int PROG_NEXT_STEP = 3;
inline constexpr int PROG_PERCENT = 4;
inline constexpr int PROG_COMPLETED = 5;

inline constexpr int DOWNLOAD_COMPARE = 2;

// An erase may take minutes, but a phone that never answers it must not hold the download for
// ever: after this long the entry gives up as after an unanswered request.
inline constexpr int kEraseLimitMs = 10 * 60 * 1000;

// Output the phone has not taken within a transfer time-out is taken as never to be taken: the
// line is held (XOFF) or stuck, and the entry ends rather than count the bytes as sent.
inline constexpr int kOutputWaitLimitMs = 5000;

// Damaged or refused answers are asked for again, but a phone that never answers sensibly must
// not be asked for ever: after this many retransmissions in a row without progress the entry
// gives up as at the last time-out of a transfer.
inline constexpr int kMaxResendsWithoutProgress = 10;

// How an entry's part in the current download ended. Not a field of the original record: it
// lets the engine end a download when no entry can still finish, and tells the front ends
// which phones completed.
enum class EntryOutcome {
    None,        // not part of a download (yet)
    Running,     // downloading, or waiting for the others at a phase end
    Completed,   // the final jump was acknowledged
    Failed,      // dropped, closed, refused or given up
    Interrupted  // still downloading when the run was stopped (a signal to the command line)
};

struct EntryRecord {
    int linkOpen = 0;
    int rxRunning = 0;
    int comPort = 0;
    int step = DL_START;
    int blockIndex = 0;
    int noResponseCount = 0;
    uint8_t jumpSent = 0;
    CBssComm link;
    BlockRecord blockRecord;
    const CBssComm* response = nullptr;
    int retryPending = 0;
    std::unique_ptr<CThreadRX> rxThread;
    CTextQ textQueue;
    int timerKind = TIMER_COMMAND;
    int timerInterval = 0;
    int flashing = 0;

    int eraseWaitMs = 0;  // how long the current erase has been waited for
    int resendCount = 0;  // retransmissions after bad answers since the last accepted answer
    EntryOutcome outcome = EntryOutcome::None;
    int retries = 0;            // time-outs and re-sends, for the reports of the front ends
    uint64_t bytesWritten = 0;  // image bytes acknowledged by the phone
    int64_t startMs = 0;
    int64_t endMs = 0;
    // Why the port could not be opened, for the command line's standard error; empty once an
    // open succeeds.
    std::string openFailure;
};

}  // namespace tarnflow
