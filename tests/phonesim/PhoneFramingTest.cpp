#include <gtest/gtest.h>

#include "ToolPort.h"
#include "comm/FrameCodec.h"

namespace tarnflow::phonesim::testing {
namespace {

constexpr uint8_t kDlStart = 0xA0;
constexpr uint8_t kJump = 0xC0;

Bytes Frame(const Bytes& request, bool frameMode = true) {
    uint8_t out[kFrameWorkSize];
    const size_t length = EncodeFrame(request.data(), request.size(), frameMode, out);
    return Bytes(out, out + length);
}

Bytes Garbage(size_t count, uint32_t seed) {
    Bytes bytes;
    while (bytes.size() < count) {
        const Bytes block = MakeBlock(seed++);
        bytes.insert(bytes.end(), block.begin(), block.end());
    }
    bytes.resize(count);
    return bytes;
}

TEST(PhoneFraming, AnswersAreEscapedSoTheToolDecodesThem) {
    const Bytes escapedBytes = {0x11, 0x13, 0x7D, 0x7E, 0x7F};
    std::vector<Bytes> blocks;
    for (const uint8_t byte : escapedBytes) {
        blocks.push_back(BlockWithCheckByte(byte));
    }
    Bench bench;
    ASSERT_TRUE(bench.Start());
    ToolPort& tool = *bench.tool;
    EXPECT_EQ(tool.Exchange(EraseRequest(0xEE, 0, static_cast<uint32_t>(blocks.size()) * kBlock)),
              kRequestAck);
    for (size_t i = 0; i < blocks.size(); ++i) {
        EXPECT_EQ(tool.ExchangeBlock(blocks[i]), AckFor(blocks[i]))
            << "check byte " << int{escapedBytes[i]};
    }
    EXPECT_EQ(bench.Flash(0, static_cast<uint32_t>(blocks.size())), Concat(blocks));
}

TEST(PhoneFraming, RawFlowControlBytesComeOutDamaged) {
    const Bytes withXon = BlockWithCheckByte(0x11);
    const Bytes withXoff = BlockWithCheckByte(0x13);
    PhoneOptions options;
    options.faults.rawXonXoff = true;
    Bench bench;
    ASSERT_TRUE(bench.Start(options));
    ToolPort& tool = *bench.tool;
    EXPECT_EQ(tool.Exchange(EraseRequest(0xEE, 0, 2 * kBlock)), kRequestAck);
    for (const Bytes* block : {&withXon, &withXoff}) {
        const std::optional<Bytes> answer = tool.ExchangeBlock(*block);
        ASSERT_TRUE(answer.has_value());
        EXPECT_NE(*answer, AckFor(*block));
    }
    // The phone itself took both blocks.
    EXPECT_EQ(bench.Flash(0, 2), Concat({withXon, withXoff}));
}

TEST(PhoneFraming, BadFcsGetsNoAnswer) {
    Bench bench;
    ASSERT_TRUE(bench.Start());
    ToolPort& tool = *bench.tool;
    Bytes bad = Frame({kDlStart});
    bad[2] ^= 0x01;  // FCS low byte
    ASSERT_TRUE(tool.Send(bad));
    EXPECT_EQ(tool.Exchange({kJump}), kRequestAck);
    EXPECT_FALSE(tool.HasInput());
    const PhoneStats stats = bench.phone.Stats();
    EXPECT_EQ(stats.badFrames, 1u);
    EXPECT_EQ(stats.answersSent, 1u);
    ASSERT_EQ(bench.phone.Requests().size(), 1u);
    EXPECT_EQ(bench.phone.Requests()[0].code, kJump);
}

TEST(PhoneFraming, BothStartFlagsWithOrWithoutZeroFill) {
    Bench bench;
    ASSERT_TRUE(bench.Start());
    ToolPort& tool = *bench.tool;
    EXPECT_EQ(tool.SendRequest({kDlStart}, false) ? tool.ReadAnswer() : std::nullopt, kRequestAck);
    // Two frames in one write, the first with its zero fill, the second without.
    Bytes unfilled = Frame({kJump});
    while (unfilled.back() == 0x00) {
        unfilled.pop_back();
    }
    ASSERT_TRUE(tool.Send(Concat({Frame({kDlStart}), unfilled})));
    EXPECT_EQ(tool.ReadAnswer(), kRequestAck);
    EXPECT_EQ(tool.ReadAnswer(), kRequestAck);
    EXPECT_EQ(bench.phone.Requests().size(), 3u);
    EXPECT_EQ(bench.phone.Stats().badFrames, 0u);
}

TEST(PhoneFraming, EscapedRequestBytesAreDecoded) {
    Bench bench;
    ASSERT_TRUE(bench.Start());
    ToolPort& tool = *bench.tool;
    const Bytes erase = EraseRequest(0xEE, 0x7F7E7D00, kBlock);
    EXPECT_EQ(tool.Exchange(erase), kRequestAck);
    ASSERT_EQ(bench.phone.Requests().size(), 1u);
    EXPECT_EQ(bench.phone.Requests()[0].bytes, erase);
    const Bytes block = MakeBlock(5);
    EXPECT_EQ(tool.ExchangeBlock(block), AckFor(block));
    EXPECT_EQ(bench.Flash(0x7F7E7D00), block);
}

TEST(PhoneFraming, RequestsItCannotCarryOutAreRefused) {
    Bench bench;
    ASSERT_TRUE(bench.Start());
    ToolPort& tool = *bench.tool;
    const Bytes invalid{0xA3, 0x9E, 0x4C};
    EXPECT_EQ(tool.Exchange({0x55}), invalid);                         // unknown code
    EXPECT_EQ(tool.Exchange({kDlStart, 0x00}), invalid);               // wrong length
    EXPECT_EQ(tool.Exchange(EraseRequest(0xEF, 7, kBlock)), invalid);  // no area 7
    EXPECT_EQ(tool.Exchange(EraseRequest(0xEF, 0, kBlock)), invalid);  // no area 0
    // Nothing erased, so no blocks are awaited.
    EXPECT_EQ(tool.Exchange({kDlStart}), kRequestAck);
    EXPECT_EQ(bench.phone.Requests().size(), 5u);
}

TEST(PhoneFraming, GarbageBetweenFramesDoesNotUpsetIt) {
    Bench bench;
    ASSERT_TRUE(bench.Start());
    ToolPort& tool = *bench.tool;
    Bytes overlong{0x7E};
    overlong.insert(overlong.end(), 200, 0x41);
    ASSERT_TRUE(tool.Send(Concat({Garbage(64 * 1024, 1),
                                  overlong,
                                  {0x7E, 0x7D, 0x7E},
                                  {0x7F, 0x7D},
                                  Frame({kDlStart}),
                                  Garbage(333, 77),
                                  Frame({kJump})})));
    ASSERT_TRUE(bench.WaitHandled());
    // Frames hidden in the garbage may have been answered; the last answer is the jump's.
    std::optional<Bytes> last;
    for (uint32_t read = 0; read < bench.phone.Stats().answersSent; ++read) {
        last = tool.ReadAnswer();
        ASSERT_TRUE(last.has_value());
    }
    EXPECT_EQ(last, kRequestAck);
    const std::vector<RequestRecord> requests = bench.phone.Requests();
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(requests[requests.size() - 2].bytes, Bytes{kDlStart});
    EXPECT_EQ(requests.back().bytes, Bytes{kJump});
    EXPECT_EQ(tool.Exchange({kDlStart}), kRequestAck);
}

TEST(PhoneFraming, GarbageWhileBlocksAreAwaitedIsTakenAsBlocks) {
    Bench bench;
    ASSERT_TRUE(bench.Start());
    ToolPort& tool = *bench.tool;
    EXPECT_EQ(tool.Exchange(EraseRequest(0xEE, 0, 2 * kBlock)), kRequestAck);
    const Bytes garbage = Garbage(kBlock + 476, 9);
    ASSERT_TRUE(tool.Send(garbage));
    const Bytes first(garbage.begin(), garbage.begin() + kBlock);
    EXPECT_EQ(tool.ReadAnswer(), AckFor(first));
    ASSERT_TRUE(bench.WaitHandled());
    EXPECT_EQ(bench.phone.Stats().discardedPartials, 1u);
    const Bytes second = MakeBlock(3);
    EXPECT_EQ(tool.ExchangeBlock(second), AckFor(second));
    EXPECT_EQ(bench.Flash(0, 2), Concat({first, second}));
}

}  // namespace
}  // namespace tarnflow::phonesim::testing
