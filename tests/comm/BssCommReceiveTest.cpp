#include <gtest/gtest.h>

#include <vector>

#include "comm/bsscomm.h"
#include "support/FakeOwner.h"
#include "support/TextQueue.h"

namespace tarnflow {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::FakeOwner;

const char* const kBadFrame = "\n[RX]Bad CRC in response packet\n";

// The receive path of a link object without a port: chunks go straight into ProcessReceived,
// as the receive thread would hand them over.
class BssCommReceive : public ::testing::Test {
  protected:
    void SetUp() override {
        link.Attach(&owner, &queue);
        link.entryIndex = 7;
        link.frameMode = 1;
    }
    int Feed(const Bytes& chunk) {
        return link.ProcessReceived(chunk.data(), static_cast<int>(chunk.size()), 7);
    }
    Bytes Response(size_t n) const {
        Bytes out(n);
        link.CopyResponse(out.data(), n);
        return out;
    }
    std::vector<Message> Messages() { return owner.DrainMessages(); }
    std::vector<CTextQItem> Texts() { return testing::DrainTexts(queue); }

    FakeOwner owner;
    CTextQ queue;
    CBssComm link;
};

const Message kPacket{WM_RX_PACKET, 7, 0};
const Message kText{WM_TEXT_QUEUED, 7, 0};

TEST_F(BssCommReceive, SplitResponseIsDeliveredOnce) {
    EXPECT_EQ(Feed({0x7E, 0x02, 0x6A}), 1);
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(Feed({0xD3, 0x7E}), 1);
    EXPECT_EQ(Messages(), std::vector<Message>{kPacket});
    EXPECT_EQ(Response(3), (Bytes{0x02, 0x6A, 0xD3}));
    EXPECT_TRUE(Texts().empty());
}

TEST_F(BssCommReceive, UnescapedPacketLeavesTheStrippedTail) {
    Feed({0x7E, 0x7D, 0x5E, 0x02, 0x7E});
    EXPECT_EQ(Messages(), std::vector<Message>{kPacket});
    EXPECT_EQ(Response(3), (Bytes{0x7E, 0x02, 0x02}));
}

TEST_F(BssCommReceive, RejectedFrameQueuesTheErrorText) {
    EXPECT_EQ(Feed({0x7E}), 1);
    EXPECT_EQ(Messages(), std::vector<Message>{kText});
    const auto texts = Texts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].type, TEXT_ERROR);
    EXPECT_EQ(texts[0].text, kBadFrame);
}

TEST_F(BssCommReceive, VerifyingDecoderBeforeTheFirstRequest) {
    link.frameMode = 0;
    Feed({0x7E, 0x02, 0x6A, 0xD3, 0x7E});
    EXPECT_EQ(Messages(), std::vector<Message>{kText});
    Feed({0x7E, 0x02, 0x3F, 0xFE, 0xAC, 0x60, 0x7E});
    EXPECT_EQ(Messages(), std::vector<Message>{kPacket});
    // The CRC-30 bytes stay in the packet.
    EXPECT_EQ(Response(5), (Bytes{0x02, 0x3F, 0xFE, 0xAC, 0x60}));
}

TEST_F(BssCommReceive, OverflowDropsTheBurstSilently) {
    EXPECT_EQ(Feed(Bytes(512, 0x41)), 1);
    EXPECT_EQ(Feed({0x7E, 0x02, 0x6A, 0xD3, 0x7E}), 0);
    EXPECT_TRUE(Messages().empty());
    EXPECT_TRUE(Texts().empty());
}

TEST_F(BssCommReceive, PacketLongerThanTheResponseBufferIsDropped) {
    // 503 bytes on the line strip to 501: too long for responseBuffer, so nothing is delivered
    // and the earlier response stays intact.
    Feed({0x7E, 0x02, 0x6A, 0xD3, 0x7E});
    Messages();
    Bytes frame(503, 0x55);
    frame.front() = 0x7E;
    frame.back() = 0x7E;
    EXPECT_EQ(Feed(frame), 1);
    EXPECT_EQ(Messages(), std::vector<Message>{kText});
    EXPECT_EQ(Texts().at(0).text, kBadFrame);
    EXPECT_EQ(Response(3), (Bytes{0x02, 0x6A, 0xD3}));
}

TEST_F(BssCommReceive, PacketOfExactlyTheResponseBufferIsDelivered) {
    Bytes frame(502, 0x33);
    frame.front() = 0x7E;
    frame.back() = 0x7E;
    Feed(frame);
    EXPECT_EQ(Messages(), std::vector<Message>{kPacket});
    EXPECT_EQ(Response(kResponseBufferSize), Bytes(kResponseBufferSize, 0x33));
}

TEST_F(BssCommReceive, BeginBurstForgetsAnUnfinishedFrame) {
    Feed({0x7E, 0x02, 0x6A});
    link.BeginBurst();
    Feed({0xD3, 0x7E});
    EXPECT_TRUE(Messages().empty());
}

}  // namespace
}  // namespace tarnflow
