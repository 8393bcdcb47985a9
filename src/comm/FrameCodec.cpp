#include "comm/FrameCodec.h"

#include <cstring>

#include "comm/Checksums.h"

namespace tarnflow {

namespace {

bool NeedsEscape(uint8_t byte) {
    return byte == kFrameEscape || byte == kFrameFlag || byte == kRawStartFlag;
}

size_t PutEscaped(uint8_t byte, uint8_t* out, size_t at) {
    if (NeedsEscape(byte)) {
        out[at++] = kFrameEscape;
        out[at++] = static_cast<uint8_t>(byte ^ kEscapeXor);
    } else {
        out[at++] = byte;
    }
    return at;
}

// Unescapes `stripped` bytes in place and returns the decoded count. A trailing 0x7D escapes the
// byte after the stripped ones, which is always a zero of the decode buffer.
size_t Unescape(uint8_t* buffer, size_t stripped) {
    size_t read = 0;
    size_t written = 0;
    while (read < stripped) {
        if (buffer[read] == kFrameEscape) {
            buffer[written++] = static_cast<uint8_t>(buffer[read + 1] ^ kEscapeXor);
            read += 2;
        } else {
            buffer[written++] = buffer[read++];
        }
    }
    return written;
}

}  // namespace

size_t EncodeFrame(const uint8_t* request, size_t length, bool frameMode, uint8_t* out) {
    size_t at = 0;
    out[at++] = frameMode ? kFrameFlag : kRawStartFlag;
    for (size_t i = 0; i < length; ++i) {
        at = PutEscaped(request[i], out, at);
    }
    const uint16_t fcs = Fcs16(request, length);
    at = PutEscaped(static_cast<uint8_t>(fcs & 0xFF), out, at);
    at = PutEscaped(static_cast<uint8_t>(fcs >> 8), out, at);
    out[at++] = kFrameFlag;
    while (at % 4 != 0) {
        out[at++] = 0x00;
    }
    return at;
}

FrameReceiver::Outcome FrameReceiver::Feed(const uint8_t* chunk, size_t length, bool frameMode) {
    bool overflowed = false;
    for (size_t i = 0; i < length; ++i) {
        if (rxCount_ == kRxBufferSize) {
            // The byte that finds the buffer full is lost; the chunk's rest starts over at 0.
            overflowed = true;
            rxCount_ = 0;
            continue;
        }
        rxBuffer_[rxCount_++] = chunk[i];
    }
    if (overflowed) {
        return Outcome::Overflow;
    }
    if (rxCount_ == 0 || rxBuffer_[0] != kFrameFlag || rxBuffer_[rxCount_ - 1] != kFrameFlag) {
        return Outcome::NeedMore;
    }
    return DecodeFrame(frameMode);
}

FrameReceiver::Outcome FrameReceiver::DecodeFrame(bool frameMode) {
    // Every flag byte goes, wherever it stands: frames that arrived back to back merge.
    std::memset(decode_, 0, sizeof decode_);
    size_t stripped = 0;
    for (size_t i = 0; i < rxCount_; ++i) {
        if (rxBuffer_[i] != kFrameFlag && rxBuffer_[i] != kRawStartFlag) {
            decode_[stripped++] = rxBuffer_[i];
        }
    }
    rxCount_ = 0;
    packetLength_ = 0;

    if (frameMode) {
        if (stripped < 3) {
            return Outcome::Rejected;
        }
        Unescape(decode_, stripped);
    } else {
        if (stripped < 4) {
            return Outcome::Rejected;
        }
        const size_t decoded = Unescape(decode_, stripped);
        if (decoded < 4) {
            return Outcome::Rejected;
        }
        const uint8_t* tail = decode_ + decoded - 4;
        const uint32_t received = (uint32_t{tail[0]} << 24) | (uint32_t{tail[1]} << 16) |
                                  (uint32_t{tail[2]} << 8) | uint32_t{tail[3]};
        if (received != Crc30(decode_, decoded - 4)) {
            return Outcome::Rejected;
        }
    }
    packetLength_ = stripped;
    return Outcome::Accepted;
}

}  // namespace tarnflow
