// Judging each response before the step machine sees it.
#include <cstdio>

#include "engine/DloadEngine.h"

namespace tarnflow {

namespace {

std::string AddressText(const char* format, uint32_t address) {
    char text[80];
    std::snprintf(text, sizeof text, format, address);
    return text;
}

}  // namespace

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

void CDloadEngine::ArmRetryTimer(int i) {
    SetEntryTimer(i, TIMER_TRANSFER, 5000);
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
                host_.KillTimer(static_cast<uint32_t>(i));
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
                    AddressText("CRC Calc result Error at 0x%x", BlockAddress(e.blockIndex - 1)));
                ++e.retries;
                e.link.SendRawBlock(CDloadFile::GetRetryPacket());
                e.retryPending = 1;
                ArmRetryTimer(i);
                return false;
            }
            if (r[1] == ACK_FCS_LOW && r[2] == ACK_FCS_HIGH) {
                return true;
            }
            ++e.retries;
            e.link.ResendLastRequest();
            QueueEntryText(i, TEXT_NOTICE, "ACK, but crc error. Retry.");
            ArmRetryTimer(i);
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
                ArmRetryTimer(i);
                return false;
            }
            if (r[1] == 0x03 && r[2] == 0x03) {
                QueueEntryText(i, TEXT_ERROR, "Unknown Error!");
                CloseEntry(i);
                return false;
            }
            RetryTransfer(i);
            ArmRetryTimer(i);
            QueueEntryText(i, TEXT_NOTICE, "Retry ACK, but crc error. Retry.");
            return false;

        case NAK_RESEND:
            RetryTransfer(i);
            ArmRetryTimer(i);
            return false;

        case NAK_MODEL_MISMATCH:
            if (host_.MessageBox("모델 버전이 틀립니다. 계속 할까요?", MessageBoxStyle::YesNo) ==
                IDYES) {
                return true;
            }
            host_.KillTimer(static_cast<uint32_t>(i));
            MarkFailed(i);
            return false;

        case NAK_INVALID_CMD:
            if (r[1] == 0x9E && r[2] == 0x4C) {
                CloseEntry(i);
                QueueEntryText(i, TEXT_ERROR, "Invalid command!!");
                return false;
            }
            RetryTransfer(i);
            ArmRetryTimer(i);
            QueueEntryText(i, TEXT_NOTICE, "NAK_INVALID_CMD, but crc error. Retry");
            return false;

        case NAK_FAILED:
            if (r[1] == 0x00 && r[2] == 0x00) {
                CloseEntry(i);
                QueueEntryText(i, TEXT_ERROR, "Flash error!!");
                return false;
            }
            RetryTransfer(i);
            ArmRetryTimer(i);
            QueueEntryText(i, TEXT_NOTICE, "NAK_FAILED, but crc error. Retry");
            return false;

        default:
            // An unknown code is a damaged answer: report it and ask again rather than wait.
            QueueEntryText(i, TEXT_ERROR, "Unknown error!!");
            RetryTransfer(i);
            ArmRetryTimer(i);
            return false;
    }
}

}  // namespace tarnflow
