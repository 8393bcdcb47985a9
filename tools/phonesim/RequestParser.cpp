#include "phonesim/RequestParser.h"

#include "comm/Checksums.h"
#include "comm/FrameCodec.h"

namespace tarnflow::phonesim {

namespace {

constexpr size_t kFcsLength = 2;
constexpr size_t kFillUnit = 4;

}  // namespace

std::optional<ParsedFrame> RequestParser::Feed(uint8_t byte) {
    if (!inFrame_) {
        if (byte == kFrameFlag || byte == kRawStartFlag) {
            inFrame_ = true;
            content_.clear();
        }
        return std::nullopt;
    }
    if (byte == kRawStartFlag) {
        content_.clear();
        return std::nullopt;
    }
    if (byte == kFrameFlag) {
        if (content_.empty()) {
            return std::nullopt;
        }
        ParsedFrame frame = Decode();
        content_.clear();
        return frame;
    }
    content_.push_back(byte);
    if (content_.size() > kMaxFrameContent) {
        Reset();
    }
    return std::nullopt;
}

void RequestParser::Reset() {
    inFrame_ = false;
    content_.clear();
}

ParsedFrame RequestParser::Decode() const {
    ParsedFrame frame;
    // Start flag, content, end flag, then zeros up to a multiple of four.
    frame.fill = (kFillUnit - (content_.size() + 2) % kFillUnit) % kFillUnit;
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < content_.size(); ++i) {
        if (content_[i] != kFrameEscape) {
            bytes.push_back(content_[i]);
        } else if (i + 1 < content_.size()) {
            bytes.push_back(static_cast<uint8_t>(content_[++i] ^ kEscapeXor));
        } else {
            return frame;  // an escape with nothing after it
        }
    }
    if (bytes.size() < 1 + kFcsLength) {
        return frame;
    }
    const size_t length = bytes.size() - kFcsLength;
    const uint16_t received = static_cast<uint16_t>(bytes[length] | (bytes[length + 1] << 8));
    if (received != Fcs16(bytes.data(), length)) {
        return frame;
    }
    frame.valid = true;
    bytes.resize(length);
    frame.request = std::move(bytes);
    return frame;
}

}  // namespace tarnflow::phonesim
