#pragma once

#include <cstddef>
#include <cstdint>

namespace tarnflow {

inline constexpr uint8_t kFrameFlag = 0x7E;     // start flag in frame mode, end flag always
inline constexpr uint8_t kRawStartFlag = 0x7F;  // start flag while frame mode is off
inline constexpr uint8_t kFrameEscape = 0x7D;   // next byte on the wire is data XOR 0x20
inline constexpr uint8_t kEscapeXor = 0x20;
inline constexpr size_t kMaxRequestLength = 11;  // longest request a frame is built for
inline constexpr size_t kFrameWorkSize = 100;    // encode buffer; an 11-byte request needs < 30

// Builds the frame of a request: start flag (0x7E in frame mode, else 0x7F), the request bytes
// and the complemented FCS (low byte first) with 0x7D, 0x7E and 0x7F escaped, the end flag, and
// zero fill to a multiple of four bytes. `length` must not exceed kMaxRequestLength; `out` must
// hold kFrameWorkSize bytes. Returns the frame length.
size_t EncodeFrame(const uint8_t* request, size_t length, bool frameMode, uint8_t* out);

// The receive side of the framing: gathers the chunks of one receive burst and turns a complete
// frame into a packet. Pure logic, no locking; the link serialises the calls.
class FrameReceiver {
  public:
    static constexpr size_t kRxBufferSize = 512;
    static constexpr size_t kDecodeSize = kRxBufferSize + 1;

    enum class Outcome {
        NeedMore,  // no complete frame yet; the bytes are kept for the next chunk
        Overflow,  // more than kRxBufferSize bytes without a frame; the burst is to be dropped
        Accepted,  // a packet is ready in Packet(), PacketLength() bytes
        Rejected   // a frame failed its decoder's test and was dropped
    };

    // Appends `chunk` and, when the buffer then holds a frame, decodes it with the plain decoder
    // (frame mode) or the CRC-30 verifying decoder (frame mode off).
    Outcome Feed(const uint8_t* chunk, size_t length, bool frameMode);

    // Starts a new burst: bytes of an unfinished frame are dropped.
    void Clear() { rxCount_ = 0; }

    size_t Count() const { return rxCount_; }

    // The decoded bytes of the last accepted packet, followed by the leftover stripped bytes, as
    // the link hands them on; valid until the next Feed.
    const uint8_t* Packet() const { return decode_; }
    // The stripped length of the last accepted packet (the decoded bytes may be fewer).
    size_t PacketLength() const { return packetLength_; }

  private:
    Outcome DecodeFrame(bool frameMode);

    uint8_t rxBuffer_[kRxBufferSize] = {};
    size_t rxCount_ = 0;
    uint8_t decode_[kDecodeSize] = {};
    size_t packetLength_ = 0;
};

}  // namespace tarnflow
