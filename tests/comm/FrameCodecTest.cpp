#include "comm/FrameCodec.h"

#include <gtest/gtest.h>

#include <vector>

namespace tarnflow {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Encode(const Bytes& request, bool frameMode) {
    uint8_t out[kFrameWorkSize];
    const size_t n = EncodeFrame(request.data(), request.size(), frameMode, out);
    return Bytes(out, out + n);
}

struct FrameExample {
    Bytes request;
    bool frameMode;
    Bytes wire;
};

TEST(EncodeFrame, ExamplesByteForByte) {
    const FrameExample examples[] = {
        {{0xA0}, true, {0x7E, 0xA0, 0x72, 0x55, 0x7E, 0x00, 0x00, 0x00}},
        {{0xC0}, true, {0x7E, 0xC0, 0x74, 0x36, 0x7E, 0x00, 0x00, 0x00}},
        {{0x7E}, true, {0x7E, 0x7D, 0x5E, 0x81, 0x6A, 0x7E, 0x00, 0x00}},
        // The FCS low byte 7E is escaped too.
        {{0x60}, true, {0x7E, 0x60, 0x7D, 0x5E, 0x93, 0x7E, 0x00, 0x00}},
        {{0xEE, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00},
         true,
         {0x7E, 0xEE, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x2E, 0x2A, 0x7E, 0x00, 0x00,
          0x00}},
        // Before the first request the start flag is 7F.
        {{0xC0}, false, {0x7F, 0xC0, 0x74, 0x36, 0x7E, 0x00, 0x00, 0x00}},
        // An empty request: FCS 00 00 and no zero fill.
        {{}, false, {0x7F, 0x00, 0x00, 0x7E}},
    };
    for (const auto& example : examples) {
        EXPECT_EQ(Encode(example.request, example.frameMode), example.wire);
    }
}

TEST(EncodeFrame, ZeroFillToAMultipleOfFour) {
    // 5-byte frame (one request byte, no escapes) gets three zeros ...
    EXPECT_EQ(Encode({0xA0}, true).size(), 8u);
    // ... and an 8-byte frame (four request bytes) gets none.
    const Bytes frame = Encode({0x01, 0x02, 0x03, 0x04}, true);
    ASSERT_EQ(frame.size(), 8u);
    EXPECT_EQ(frame.back(), kFrameFlag);
}

TEST(EncodeFrame, EveryByteEscapedStaysInTheWorkBuffer) {
    const Bytes request(kMaxRequestLength, 0x7D);
    const Bytes frame = Encode(request, true);
    EXPECT_LE(frame.size(), kFrameWorkSize);
    EXPECT_EQ(frame.size() % 4, 0u);
}

class FrameReceiverTest : public ::testing::Test {
  protected:
    FrameReceiver::Outcome Feed(const Bytes& chunk, bool frameMode = true) {
        return receiver.Feed(chunk.data(), chunk.size(), frameMode);
    }
    Bytes Packet() const {
        return Bytes(receiver.Packet(), receiver.Packet() + receiver.PacketLength());
    }
    FrameReceiver receiver;
};

using Outcome = FrameReceiver::Outcome;

TEST_F(FrameReceiverTest, ResponseSplitOverTwoChunksOfOneBurst) {
    EXPECT_EQ(Feed({0x7E, 0x02, 0x6A}), Outcome::NeedMore);
    EXPECT_EQ(Feed({0xD3, 0x7E}), Outcome::Accepted);
    EXPECT_EQ(Packet(), (Bytes{0x02, 0x6A, 0xD3}));
    EXPECT_EQ(receiver.Count(), 0u);
}

TEST_F(FrameReceiverTest, SplitAcrossTwoBurstsIsLost) {
    EXPECT_EQ(Feed({0x7E, 0x02, 0x6A}), Outcome::NeedMore);
    receiver.Clear();
    EXPECT_EQ(Feed({0xD3, 0x7E}), Outcome::NeedMore);
    EXPECT_EQ(receiver.Count(), 2u);
}

TEST_F(FrameReceiverTest, TwoFramesInOneChunkMergeIntoOnePacket) {
    EXPECT_EQ(Feed({0x7E, 0x02, 0x6A, 0xD3, 0x7E, 0x7E, 0x02, 0x6A, 0xD3, 0x7E}),
              Outcome::Accepted);
    EXPECT_EQ(Packet(), (Bytes{0x02, 0x6A, 0xD3, 0x02, 0x6A, 0xD3}));
}

TEST_F(FrameReceiverTest, BytesBeforeTheOpeningFlagBlockTheBurst) {
    EXPECT_EQ(Feed({0x00, 0x7E, 0x02, 0x6A, 0xD3, 0x7E}), Outcome::NeedMore);
    EXPECT_EQ(Feed({0x7E, 0x02, 0x6A, 0xD3, 0x7E}), Outcome::NeedMore);
}

TEST_F(FrameReceiverTest, LoneFlagIsAnEmptyFrameAndRejected) {
    EXPECT_EQ(Feed({0x7E}), Outcome::Rejected);
    EXPECT_EQ(Feed({0x7E}, false), Outcome::Rejected);
}

TEST_F(FrameReceiverTest, UnescapeKeepsTheStrippedLength) {
    // Stripped 7D 5E 02 decodes to 7E 02; the leftover stripped byte stays behind it.
    EXPECT_EQ(Feed({0x7E, 0x7D, 0x5E, 0x02, 0x7E}), Outcome::Accepted);
    EXPECT_EQ(Packet(), (Bytes{0x7E, 0x02, 0x02}));
}

TEST_F(FrameReceiverTest, TrailingEscapeTakesTheZeroAfterIt) {
    EXPECT_EQ(Feed({0x7E, 0x02, 0x6A, 0x7D, 0x7E}), Outcome::Accepted);
    EXPECT_EQ(receiver.Packet()[2], 0x20);
    EXPECT_EQ(receiver.PacketLength(), 3u);
}

TEST_F(FrameReceiverTest, ThreeByteLimitsOfBothDecoders) {
    EXPECT_EQ(Feed({0x7E, 0x02, 0x6A, 0x7E}, true), Outcome::Rejected);
    EXPECT_EQ(Feed({0x7E, 0x02, 0x6A, 0xD3, 0x7E}, true), Outcome::Accepted);
    EXPECT_EQ(Feed({0x7E, 0x02, 0x6A, 0xD3, 0x7E}, false), Outcome::Rejected);
    // Four stripped bytes that decode to three: rejected by the verifying decoder.
    EXPECT_EQ(Feed({0x7E, 0x7D, 0x5E, 0x02, 0x03, 0x7E}, false), Outcome::Rejected);
}

TEST_F(FrameReceiverTest, VerifyingDecoderChecksTheCrc30) {
    // Packet 02 with its CRC-30 bytes 3F FE AC 60 (7F-free, so no escapes needed).
    EXPECT_EQ(Feed({0x7E, 0x02, 0x3F, 0xFE, 0xAC, 0x60, 0x7E}, false), Outcome::Accepted);
    EXPECT_EQ(Packet(), (Bytes{0x02, 0x3F, 0xFE, 0xAC, 0x60}));
    EXPECT_EQ(Feed({0x7E, 0x02, 0x3F, 0xFE, 0xAC, 0x61, 0x7E}, false), Outcome::Rejected);
    // The top two bits of the received value must be clear.
    EXPECT_EQ(Feed({0x7E, 0x02, 0xFF, 0xFE, 0xAC, 0x60, 0x7E}, false), Outcome::Rejected);
}

TEST_F(FrameReceiverTest, StartFlag7FIsStrippedAnywhere) {
    EXPECT_EQ(Feed({0x7E, 0x7F, 0x02, 0x6A, 0xD3, 0x7F, 0x7E}), Outcome::Accepted);
    EXPECT_EQ(Packet(), (Bytes{0x02, 0x6A, 0xD3}));
}

TEST_F(FrameReceiverTest, OverflowDropsTheByteThatFindsTheBufferFull) {
    const Bytes noise(512, 0x55);
    EXPECT_EQ(Feed(noise), Outcome::NeedMore);
    EXPECT_EQ(receiver.Count(), 512u);
    EXPECT_EQ(Feed({0x7E, 0x02, 0x6A, 0xD3, 0x7E}), Outcome::Overflow);
    // The first byte was dropped; the other four start over at position 0.
    EXPECT_EQ(receiver.Count(), 4u);
}

TEST_F(FrameReceiverTest, OneChunkLongerThanTheBufferOverflows) {
    Bytes chunk(600, 0x7E);
    EXPECT_EQ(Feed(chunk), Outcome::Overflow);
    EXPECT_EQ(receiver.Count(), 600u - 513u);
}

TEST_F(FrameReceiverTest, LongestFrameStaysInsideTheBuffers) {
    Bytes frame(512, 0x7D);
    frame.front() = 0x7E;
    frame.back() = 0x7E;
    EXPECT_EQ(Feed(frame), Outcome::Accepted);
    EXPECT_EQ(receiver.PacketLength(), 510u);
    // Pairs of 7D decode to 5D; the stripped tail stays behind the decoded bytes.
    EXPECT_EQ(receiver.Packet()[0], 0x5D);
    EXPECT_EQ(receiver.Packet()[254], 0x5D);
}

}  // namespace
}  // namespace tarnflow
