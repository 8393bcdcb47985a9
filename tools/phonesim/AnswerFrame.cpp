#include "phonesim/AnswerFrame.h"

#include "comm/FrameCodec.h"

namespace tarnflow::phonesim {

namespace {

constexpr uint8_t kXon = 0x11;
constexpr uint8_t kXoff = 0x13;

bool NeedsEscape(uint8_t byte, bool rawFlowControl) {
    if (byte == kFrameEscape || byte == kFrameFlag || byte == kRawStartFlag) {
        return true;
    }
    return !rawFlowControl && (byte == kXon || byte == kXoff);
}

}  // namespace

std::vector<uint8_t> EncodeAnswer(const std::vector<uint8_t>& payload, bool rawFlowControl) {
    std::vector<uint8_t> frame{kFrameFlag};
    for (const uint8_t byte : payload) {
        if (NeedsEscape(byte, rawFlowControl)) {
            frame.push_back(kFrameEscape);
            frame.push_back(static_cast<uint8_t>(byte ^ kEscapeXor));
        } else {
            frame.push_back(byte);
        }
    }
    frame.push_back(kFrameFlag);
    return frame;
}

}  // namespace tarnflow::phonesim
