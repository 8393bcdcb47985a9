// Judging each response before the step machine sees it.
#include "engine/DloadEngine.h"
#include "platform/FormatText.h"

namespace tarnflow {

void CDloadEngine::RetryTransfer(int i) {
    EntryRecord& e = entries[i];
    ++e.retries;
    if (BlockInFlight(i)) {
        e.link.SendRawBlock(CDloadFile::GetRetryPacket());
        e.retryPending = 1;
    } else {
        e.link.ResendLastRequest();
    }
}

// Asks again, with a transfer time-out, after an answer that did not let the entry advance.
// False when the entry has had too many such retransmissions in a row and has been given up.
bool CDloadEngine::RetryAfterBadAnswer(int i) {
    EntryRecord& e = entries[i];
    if (++e.resendCount > kMaxResendsWithoutProgress) {
        QueueEntryText(i, TEXT_ERROR,
                       FormatText("No progress after %d retries.", kMaxResendsWithoutProgress));
        GiveUpTransfer(i);
        return false;
    }
    RetryTransfer(i);
    SetEntryTimer(i, TIMER_TRANSFER, 5000);
    return true;
}

bool CDloadEngine::EvaluateResponse(int i) {
    EntryRecord& e = entries[i];
    uint8_t r[3];
    e.link.CopyResponse(r, sizeof r);
    const bool inFlight = BlockInFlight(i);
    const bool pending = e.retryPending != 0;

    switch (r[0]) {
        case ACK:
            if (pending) {
                QueueEntryText(i, TEXT_ERROR, "재전송 Cmd를 보내고 0x02 ACK 받음");
                MarkFailed(i);
                return false;
            }
            if (inFlight) {
                if (e.link.CheckBlockAck(r[1], r[2])) {
                    e.bytesWritten += kBlockSize;
                    return true;
                }
                QueueEntryText(
                    i, TEXT_NOTICE,
                    FormatText("CRC Calc result Error at 0x%x", BlockAddress(e.blockIndex - 1)));
                RetryAfterBadAnswer(i);
                return false;
            }
            if (r[1] == ACK_FCS_LOW && r[2] == ACK_FCS_HIGH) {
                return true;
            }
            if (RetryAfterBadAnswer(i)) {
                QueueEntryText(i, TEXT_NOTICE, "ACK, but crc error. Retry.");
            }
            return false;

        case RETRY_ACK:
            if (pending) {
                if (r[1] == 0x03 && r[2] == 0x03) {
                    QueueEntryText(i, TEXT_NOTICE, "재전송 ACK 받음");
                    e.link.SendImageBlock(e.blockRecord);
                    e.retryPending = 0;
                } else {
                    QueueEntryText(i, TEXT_ERROR, "Unknown Error!");
                }
                // Either way an answer is due; without a timer a lost one would stall the entry.
                SetEntryTimer(i, TIMER_TRANSFER, 5000);
                return false;
            }
            if (r[1] == 0x03 && r[2] == 0x03) {
                QueueEntryText(i, TEXT_ERROR, "Unknown Error!");
                CloseEntry(i);
                return false;
            }
            if (RetryAfterBadAnswer(i)) {
                QueueEntryText(i, TEXT_NOTICE, "Retry ACK, but crc error. Retry.");
            }
            return false;

        case NAK_RESEND:
            RetryAfterBadAnswer(i);
            return false;

        case NAK_MODEL_MISMATCH:
            if (host_.MessageBox("모델 버전이 틀립니다. 계속 할까요?", MessageBoxStyle::YesNo) !=
                IDYES) {
                MarkFailed(i);
                return false;
            }
            // The refusal stands in for the block's acknowledgement, so the block's check value
            // was never seen: it is asked for again and verified like any other.
            if (inFlight) {
                RetryAfterBadAnswer(i);
                return false;
            }
            return true;

        case NAK_INVALID_CMD:
            if (r[1] == 0x9E && r[2] == 0x4C) {
                CloseEntry(i);
                QueueEntryText(i, TEXT_ERROR, "Invalid command!!");
                return false;
            }
            if (RetryAfterBadAnswer(i)) {
                QueueEntryText(i, TEXT_NOTICE, "NAK_INVALID_CMD, but crc error. Retry");
            }
            return false;

        case NAK_FAILED:
            if (r[1] == 0x00 && r[2] == 0x00) {
                CloseEntry(i);
                QueueEntryText(i, TEXT_ERROR, "Flash error!!");
                return false;
            }
            if (RetryAfterBadAnswer(i)) {
                QueueEntryText(i, TEXT_NOTICE, "NAK_FAILED, but crc error. Retry");
            }
            return false;

        default:
            // An unknown code is a damaged answer: report it and ask again rather than wait.
            QueueEntryText(i, TEXT_ERROR, "Unknown error!!");
            RetryAfterBadAnswer(i);
            return false;
    }
}

}  // namespace tarnflow
