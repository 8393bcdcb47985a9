#include <gtest/gtest.h>

#include "ToolPort.h"
#include "comm/FrameCodec.h"

namespace tarnflow::phonesim::testing {
namespace {

constexpr uint8_t kDlStart = 0xA0;
constexpr uint8_t kJump = 0xC0;
constexpr uint8_t kErase = 0xEE;
constexpr uint8_t kErase2 = 0xEF;

std::vector<uint8_t> Codes(const std::vector<RequestRecord>& requests) {
    std::vector<uint8_t> codes;
    for (const RequestRecord& request : requests) {
        codes.push_back(request.code);
    }
    return codes;
}

TEST(PhoneDownload, PhoneImageAtItsEraseAddress) {
    Bench bench;
    ASSERT_TRUE(bench.Start());
    ToolPort& tool = *bench.tool;
    constexpr uint32_t kAddress = 0x10000;
    const std::vector<Bytes> blocks = {MakeBlock(1), MakeBlock(2), MakeBlock(3), MakeBlock(4)};

    EXPECT_EQ(tool.Exchange({kDlStart}), kRequestAck);
    EXPECT_EQ(tool.Exchange({kJump}), kRequestAck);
    const Bytes erase = EraseRequest(kErase, kAddress, 4 * kBlock);
    EXPECT_EQ(tool.Exchange(erase), kRequestAck);
    for (const Bytes& block : blocks) {
        EXPECT_EQ(tool.ExchangeBlock(block), AckFor(block));
    }
    EXPECT_FALSE(bench.phone.Stats().finalJump);
    EXPECT_EQ(tool.Exchange({kJump}), kRequestAck);

    EXPECT_EQ(bench.Flash(kAddress, 4), Concat(blocks));
    EXPECT_EQ(bench.Flash(kAddress - kBlock), Bytes(kBlock, 0xFF));
    EXPECT_EQ(bench.Flash(kAddress + 4 * kBlock), Bytes(kBlock, 0xFF));
    const std::vector<RequestRecord> requests = bench.phone.Requests();
    EXPECT_EQ(Codes(requests), (std::vector<uint8_t>{kDlStart, kJump, kErase, kJump}));
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[2].bytes, erase);
    const PhoneStats stats = bench.phone.Stats();
    EXPECT_EQ(stats.jumps, 2u);
    EXPECT_TRUE(stats.finalJump);
    EXPECT_EQ(stats.blocksReceived, 4u);
    EXPECT_EQ(stats.answersSent, 8u);
    EXPECT_EQ(stats.completedSequences, 1u);
    EXPECT_EQ(stats.badFrames, 0u);
}

TEST(PhoneDownload, VpxAreaFromOffsetZero) {
    Bench bench;
    ASSERT_TRUE(bench.Start());
    ToolPort& tool = *bench.tool;
    const std::vector<Bytes> blocks = {MakeBlock(7), MakeBlock(8), MakeBlock(9)};

    EXPECT_EQ(tool.Exchange({kDlStart}), kRequestAck);
    EXPECT_EQ(tool.Exchange({kJump}), kRequestAck);
    // A length that is no whole number of blocks takes the whole blocks only.
    EXPECT_EQ(tool.Exchange(EraseRequest(kErase2, 3, 3 * kBlock + 100)), kRequestAck);
    for (const Bytes& block : blocks) {
        EXPECT_EQ(tool.ExchangeBlock(block), AckFor(block));
    }
    EXPECT_EQ(tool.Exchange({kJump}), kRequestAck);

    EXPECT_EQ(bench.phone.ReadArea(3, 0, 3 * kBlock), Concat(blocks));
    for (const int other : {1, 2, 4, 5, 6}) {
        EXPECT_EQ(bench.phone.ReadArea(other, 0, kBlock), Bytes(kBlock, 0xFF)) << other;
    }
    EXPECT_EQ(bench.Flash(0), Bytes(kBlock, 0xFF));
    EXPECT_TRUE(bench.phone.Stats().finalJump);
    EXPECT_EQ(bench.phone.Stats().completedSequences, 1u);
}

TEST(PhoneDownload, EraseClearsAndAnUnfinishedImageEndsWithoutFinalJump) {
    Bench bench;
    ASSERT_TRUE(bench.Start());
    ToolPort& tool = *bench.tool;
    const Bytes first = MakeBlock(1);
    const Bytes second = MakeBlock(2);
    EXPECT_EQ(tool.Exchange(EraseRequest(kErase2, 2, 2 * kBlock)), kRequestAck);
    EXPECT_EQ(tool.ExchangeBlock(first), AckFor(first));
    EXPECT_EQ(tool.ExchangeBlock(second), AckFor(second));
    EXPECT_EQ(tool.Exchange({kJump}), kRequestAck);
    EXPECT_TRUE(bench.phone.Stats().finalJump);

    // A new erase of the area: one block comes, the jump follows before the second.
    const Bytes replacement = MakeBlock(3);
    EXPECT_EQ(tool.Exchange(EraseRequest(kErase2, 2, 2 * kBlock)), kRequestAck);
    EXPECT_EQ(bench.phone.ReadArea(2, 0, 2 * kBlock), Bytes(2 * kBlock, 0xFF));
    EXPECT_EQ(tool.ExchangeBlock(replacement), AckFor(replacement));
    // Waiting for a block, the phone takes the stalled request as one.
    EXPECT_EQ(tool.Exchange({kJump}), kRequestAck);
    EXPECT_EQ(bench.phone.ReadArea(2, 0, 2 * kBlock), Concat({replacement, Bytes(kBlock, 0xFF)}));
    EXPECT_FALSE(bench.phone.Stats().finalJump);
    EXPECT_EQ(bench.phone.Stats().jumps, 2u);
}

TEST(PhoneDownload, RetryPacketMidSequenceRewritesTheLastPlace) {
    Bench bench;
    ASSERT_TRUE(bench.Start());
    ToolPort& tool = *bench.tool;
    const Bytes b0 = MakeBlock(10), b1 = MakeBlock(11), b1Again = MakeBlock(12), b2 = MakeBlock(13);
    EXPECT_EQ(tool.Exchange(EraseRequest(kErase, 0, 3 * kBlock)), kRequestAck);
    EXPECT_EQ(tool.ExchangeBlock(b0), AckFor(b0));
    EXPECT_EQ(tool.ExchangeBlock(b1), AckFor(b1));
    EXPECT_EQ(tool.ExchangeBlock(RetryPacket()), kRetryAck);
    EXPECT_EQ(tool.ExchangeBlock(b1Again), AckFor(b1Again));
    EXPECT_EQ(bench.Flash(0, 3), Concat({b0, b1Again, Bytes(kBlock, 0xFF)}));
    EXPECT_EQ(tool.ExchangeBlock(b2), AckFor(b2));
    EXPECT_EQ(bench.Flash(0, 3), Concat({b0, b1Again, b2}));
    const PhoneStats stats = bench.phone.Stats();
    EXPECT_EQ(stats.retryPackets, 1u);
    EXPECT_EQ(stats.blocksReceived, 4u);
    EXPECT_EQ(stats.completedSequences, 1u);
}

TEST(PhoneDownload, RetryPacketAfterTheLastBlockRewritesIt) {
    Bench bench;
    ASSERT_TRUE(bench.Start());
    ToolPort& tool = *bench.tool;
    const Bytes b0 = MakeBlock(20), b1 = MakeBlock(21), b1Again = MakeBlock(22);
    EXPECT_EQ(tool.Exchange(EraseRequest(kErase, 0x8000, 2 * kBlock)), kRequestAck);
    EXPECT_EQ(tool.ExchangeBlock(b0), AckFor(b0));
    EXPECT_EQ(tool.ExchangeBlock(b1), AckFor(b1));
    // The tool never saw the last answer and asks for the block again.
    EXPECT_EQ(tool.ExchangeBlock(RetryPacket()), kRetryAck);
    EXPECT_EQ(tool.ExchangeBlock(b1Again), AckFor(b1Again));
    EXPECT_EQ(bench.Flash(0x8000, 3), Concat({b0, b1Again, Bytes(kBlock, 0xFF)}));
    EXPECT_EQ(tool.Exchange({kJump}), kRequestAck);
    EXPECT_TRUE(bench.phone.Stats().finalJump);
    EXPECT_EQ(bench.phone.Stats().completedSequences, 1u);
}

TEST(PhoneDownload, EraseSentAgainWhileBlocksAreAwaitedRestartsCounting) {
    Bench bench;
    ASSERT_TRUE(bench.Start());
    ToolPort& tool = *bench.tool;
    // The tool missed the first erase's answer and sends a (here different) erase again.
    EXPECT_EQ(tool.Exchange(EraseRequest(kErase, 0x20000, 2 * kBlock)), kRequestAck);
    EXPECT_EQ(tool.Exchange(EraseRequest(kErase, 0x30000, 2 * kBlock)), kRequestAck);
    const Bytes b0 = MakeBlock(30), b1 = MakeBlock(31);
    EXPECT_EQ(tool.ExchangeBlock(b0), AckFor(b0));
    EXPECT_EQ(tool.ExchangeBlock(b1), AckFor(b1));
    EXPECT_EQ(bench.Flash(0x30000, 2), Concat({b0, b1}));
    EXPECT_EQ(bench.Flash(0x20000, 2), Bytes(2 * kBlock, 0xFF));
    EXPECT_EQ(Codes(bench.phone.Requests()), (std::vector<uint8_t>{kErase, kErase}));
    EXPECT_EQ(bench.phone.Stats().completedSequences, 1u);
}

TEST(PhoneDownload, StalledPartialBlockIsDiscarded) {
    Bench bench;
    ASSERT_TRUE(bench.Start());
    ToolPort& tool = *bench.tool;
    EXPECT_EQ(tool.Exchange(EraseRequest(kErase, 0, kBlock)), kRequestAck);
    const Bytes source = MakeBlock(40);
    const Bytes partial(source.begin(), source.begin() + 300);
    ASSERT_TRUE(tool.Send(partial));
    ASSERT_TRUE(bench.WaitHandled());
    EXPECT_EQ(bench.phone.Stats().discardedPartials, 1u);
    EXPECT_FALSE(tool.HasInput());
    const Bytes block = MakeBlock(41);
    EXPECT_EQ(tool.ExchangeBlock(block), AckFor(block));
    EXPECT_EQ(bench.Flash(0), block);
}

TEST(PhoneDownload, RawBlocksTakeAnyBytes) {
    Bench bench;
    ASSERT_TRUE(bench.Start());
    ToolPort& tool = *bench.tool;
    // Erase frame, its zero fill and the first block in one write: the fill is no block data.
    uint8_t frame[kFrameWorkSize];
    const Bytes erase = EraseRequest(kErase, 0x4000, 2 * kBlock);
    const size_t frameLength = EncodeFrame(erase.data(), erase.size(), true, frame);
    Bytes first(kBlock, 0x7E);
    first[0] = 0x00;
    first[1] = 0x7D;
    ASSERT_TRUE(tool.Send(Concat({Bytes(frame, frame + frameLength), first})));
    EXPECT_EQ(tool.ReadAnswer(), kRequestAck);
    EXPECT_EQ(tool.ReadAnswer(), AckFor(first));
    const Bytes second = MakeBlock(50);
    EXPECT_EQ(tool.ExchangeBlock(second), AckFor(second));
    EXPECT_EQ(bench.Flash(0x4000, 2), Concat({first, second}));
}

}  // namespace
}  // namespace tarnflow::phonesim::testing
