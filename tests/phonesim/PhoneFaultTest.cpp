#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <ostream>

#include "ToolPort.h"

namespace tarnflow::phonesim::testing {
namespace {

using std::chrono::milliseconds;
using SteadyClock = std::chrono::steady_clock;

constexpr uint8_t kDlStart = 0xA0;
constexpr uint8_t kJump = 0xC0;
constexpr uint32_t kBase = 0x10000;

const Bytes kB0 = MakeBlock(100);
const Bytes kB1 = MakeBlock(101);
const Bytes kB2 = MakeBlock(102);
const Bytes kErased(kBlock, 0xFF);

Bytes EraseBlocks(uint32_t count) {
    return EraseRequest(0xEE, kBase, count * kBlock);
}

AnswerFault Fault(AnswerFaultKind kind, FaultTarget target, uint32_t index, bool always = false,
                  bool damaged = false) {
    return {kind, target, index, always, damaged};
}

FaultSettings With(std::function<void(FaultSettings&)> set) {
    FaultSettings faults;
    set(faults);
    return faults;
}

FaultSettings WithAnswerFault(AnswerFault fault) {
    return With([fault](FaultSettings& f) { f.answerFaults.push_back(fault); });
}

struct FaultRow {
    const char* name;
    FaultSettings faults;
    std::function<void(Bench&)> check;
    uint32_t baud = 0;
    bool flowControl = true;
};

void PrintTo(const FaultRow& row, std::ostream* out) {
    *out << row.name;
}

// After the phone has dealt with everything sent: nothing came back and nothing was put on
// the line beyond `answers`.
void ExpectNoAnswer(Bench& bench, uint32_t answers) {
    ASSERT_TRUE(bench.WaitHandled());
    EXPECT_EQ(bench.phone.Stats().answersSent, answers);
    EXPECT_FALSE(bench.tool->HasInput());
}

const FaultRow kRows[] = {
    {"SilentFromRequest", With([](FaultSettings& f) { f.silentFromRequest = 1; }),
     [](Bench& b) {
         EXPECT_EQ(b.tool->Exchange({kDlStart}), kRequestAck);
         ASSERT_TRUE(b.tool->SendRequest({kJump}));
         ASSERT_TRUE(b.tool->SendRequest({kDlStart}));
         ExpectNoAnswer(b, 1);
         EXPECT_TRUE(b.phone.Stats().silent);
         EXPECT_EQ(b.phone.Requests().size(), 1u);
         EXPECT_EQ(b.phone.Stats().jumps, 0u);
     }},
    {"SilentFromBlock", With([](FaultSettings& f) { f.silentFromBlock = 1; }),
     [](Bench& b) {
         EXPECT_EQ(b.tool->Exchange(EraseBlocks(3)), kRequestAck);
         EXPECT_EQ(b.tool->ExchangeBlock(kB0), AckFor(kB0));
         ASSERT_TRUE(b.tool->Send(kB1));
         ASSERT_TRUE(b.tool->SendRequest({kDlStart}));
         ExpectNoAnswer(b, 2);
         EXPECT_EQ(b.Flash(kBase, 2), Concat({kB0, kErased}));
         EXPECT_EQ(b.phone.Stats().blocksReceived, 1u);
     }},
    {"LoseBlockAnswerOnce", WithAnswerFault(Fault(AnswerFaultKind::Lose, FaultTarget::Block, 1)),
     [](Bench& b) {
         EXPECT_EQ(b.tool->Exchange(EraseBlocks(3)), kRequestAck);
         EXPECT_EQ(b.tool->ExchangeBlock(kB0), AckFor(kB0));
         ASSERT_TRUE(b.tool->Send(kB1));
         ExpectNoAnswer(b, 2);
         EXPECT_EQ(b.Flash(kBase + kBlock), kB1);  // written all the same
         EXPECT_EQ(b.tool->ExchangeBlock(RetryPacket()), kRetryAck);
         EXPECT_EQ(b.tool->ExchangeBlock(kB1), AckFor(kB1));
         EXPECT_EQ(b.tool->ExchangeBlock(kB2), AckFor(kB2));
         EXPECT_EQ(b.Flash(kBase, 3), Concat({kB0, kB1, kB2}));
     }},
    {"LoseBlockAnswerAlways",
     WithAnswerFault(Fault(AnswerFaultKind::Lose, FaultTarget::Block, 1, true)),
     [](Bench& b) {
         EXPECT_EQ(b.tool->Exchange(EraseBlocks(3)), kRequestAck);
         EXPECT_EQ(b.tool->ExchangeBlock(kB0), AckFor(kB0));
         ASSERT_TRUE(b.tool->Send(kB1));
         ExpectNoAnswer(b, 2);
         EXPECT_EQ(b.tool->ExchangeBlock(RetryPacket()), kRetryAck);
         ASSERT_TRUE(b.tool->Send(kB1));
         ExpectNoAnswer(b, 3);
         EXPECT_EQ(b.phone.Stats().blocksReceived, 3u);
     }},
    {"DamageRequestAnswer",
     WithAnswerFault(Fault(AnswerFaultKind::Damage, FaultTarget::Request, 1)),
     [](Bench& b) {
         EXPECT_EQ(b.tool->Exchange({kDlStart}), kRequestAck);
         EXPECT_EQ(b.tool->Exchange({kJump}), (Bytes{0x02, 0x6A, 0xD2}));
         EXPECT_EQ(b.tool->Exchange({kJump}), kRequestAck);
         EXPECT_EQ(b.phone.Stats().jumps, 2u);  // the damaged answer's jump was made
     }},
    {"DamageBlockAnswer", WithAnswerFault(Fault(AnswerFaultKind::Damage, FaultTarget::Block, 0)),
     [](Bench& b) {
         EXPECT_EQ(b.tool->Exchange(EraseBlocks(2)), kRequestAck);
         const std::optional<Bytes> answer = b.tool->ExchangeBlock(kB0);
         ASSERT_TRUE(answer.has_value());
         EXPECT_EQ((*answer)[0], 0x02);
         EXPECT_NE(*answer, AckFor(kB0));
         EXPECT_EQ(b.Flash(kBase), kB0);
         EXPECT_EQ(b.tool->ExchangeBlock(RetryPacket()), kRetryAck);
         EXPECT_EQ(b.tool->ExchangeBlock(kB0), AckFor(kB0));
     }},
    {"NakResendRequest",
     WithAnswerFault(Fault(AnswerFaultKind::NakResend, FaultTarget::Request, 0)),
     [](Bench& b) {
         EXPECT_EQ(b.tool->Exchange({kJump}), (Bytes{0xA1, 0x00, 0x00}));
         EXPECT_EQ(b.phone.Stats().jumps, 0u);  // refused, not made
         EXPECT_EQ(b.tool->Exchange({kJump}), kRequestAck);
         EXPECT_EQ(b.phone.Stats().jumps, 1u);
     }},
    {"NakResendBlock", WithAnswerFault(Fault(AnswerFaultKind::NakResend, FaultTarget::Block, 1)),
     [](Bench& b) {
         EXPECT_EQ(b.tool->Exchange(EraseBlocks(3)), kRequestAck);
         EXPECT_EQ(b.tool->ExchangeBlock(kB0), AckFor(kB0));
         EXPECT_EQ(b.tool->ExchangeBlock(kB1), (Bytes{0xA1, 0x00, 0x00}));
         EXPECT_EQ(b.Flash(kBase + kBlock), kErased);
         // The tool asks again with the Retry Packet: the block goes to its own place.
         EXPECT_EQ(b.tool->ExchangeBlock(RetryPacket()), kRetryAck);
         EXPECT_EQ(b.tool->ExchangeBlock(kB1), AckFor(kB1));
         EXPECT_EQ(b.Flash(kBase, 2), Concat({kB0, kB1}));
     }},
    {"NakModelMismatchRequest",
     WithAnswerFault(Fault(AnswerFaultKind::NakModelMismatch, FaultTarget::Request, 0)),
     [](Bench& b) {
         // Only a warning: the erase is made and its blocks are taken.
         EXPECT_EQ(b.tool->Exchange(EraseBlocks(1)), (Bytes{0xA2, 0x00, 0x00}));
         EXPECT_EQ(b.tool->ExchangeBlock(kB0), AckFor(kB0));
         EXPECT_EQ(b.Flash(kBase), kB0);
     }},
    {"NakModelMismatchBlock",
     WithAnswerFault(Fault(AnswerFaultKind::NakModelMismatch, FaultTarget::Block, 0)),
     [](Bench& b) {
         EXPECT_EQ(b.tool->Exchange(EraseBlocks(2)), kRequestAck);
         EXPECT_EQ(b.tool->ExchangeBlock(kB0), (Bytes{0xA2, 0x00, 0x00}));
         EXPECT_EQ(b.tool->ExchangeBlock(kB1), AckFor(kB1));
         EXPECT_EQ(b.Flash(kBase, 2), Concat({kB0, kB1}));
     }},
    {"NakInvalidCmdRequest",
     WithAnswerFault(Fault(AnswerFaultKind::NakInvalidCmd, FaultTarget::Request, 0)),
     [](Bench& b) {
         EXPECT_EQ(b.tool->Exchange({kDlStart}), (Bytes{0xA3, 0x9E, 0x4C}));
     }},
    {"NakInvalidCmdRequestDamaged",
     WithAnswerFault(Fault(AnswerFaultKind::NakInvalidCmd, FaultTarget::Request, 0, false, true)),
     [](Bench& b) {
         EXPECT_EQ(b.tool->Exchange({kDlStart}), (Bytes{0xA3, 0x9E, 0x4D}));
     }},
    {"NakInvalidCmdBlock",
     WithAnswerFault(Fault(AnswerFaultKind::NakInvalidCmd, FaultTarget::Block, 0)),
     [](Bench& b) {
         EXPECT_EQ(b.tool->Exchange(EraseBlocks(2)), kRequestAck);
         EXPECT_EQ(b.tool->ExchangeBlock(kB0), (Bytes{0xA3, 0x9E, 0x4C}));
         // Not taken: the next block arriving goes to the same place.
         EXPECT_EQ(b.tool->ExchangeBlock(kB1), AckFor(kB1));
         EXPECT_EQ(b.Flash(kBase, 2), Concat({kB1, kErased}));
     }},
    {"NakFailedRequest",
     WithAnswerFault(Fault(AnswerFaultKind::NakFailed, FaultTarget::Request, 0)),
     [](Bench& b) {
         EXPECT_EQ(b.tool->Exchange(EraseBlocks(1)), (Bytes{0xA4, 0x00, 0x00}));
         // Not erased, so no blocks are awaited: the next request is answered at once.
         EXPECT_EQ(b.tool->Exchange({kDlStart}), kRequestAck);
     }},
    {"NakFailedBlockDamaged",
     WithAnswerFault(Fault(AnswerFaultKind::NakFailed, FaultTarget::Block, 1, false, true)),
     [](Bench& b) {
         EXPECT_EQ(b.tool->Exchange(EraseBlocks(2)), kRequestAck);
         EXPECT_EQ(b.tool->ExchangeBlock(kB0), AckFor(kB0));
         EXPECT_EQ(b.tool->ExchangeBlock(kB1), (Bytes{0xA4, 0x00, 0x01}));
         EXPECT_EQ(b.Flash(kBase + kBlock), kErased);
     }},
    {"SlowErase", With([](FaultSettings& f) { f.slowEraseMs = 300; }),
     [](Bench& b) {
         EXPECT_EQ(b.tool->Exchange({kDlStart}), kRequestAck);
         const auto start = SteadyClock::now();
         EXPECT_EQ(b.tool->Exchange(EraseBlocks(1)), kRequestAck);
         EXPECT_GE(SteadyClock::now() - start, milliseconds(300));
         EXPECT_EQ(b.tool->ExchangeBlock(kB0), AckFor(kB0));
     }},
    {"PacedAtLineRate",
     {},
     [](Bench& b) {
         EXPECT_EQ(b.tool->Exchange(EraseBlocks(1)), kRequestAck);
         // 1024 bytes at 57600 bit/s, 10 bits a byte: about 178 ms on the line.
         const auto start = SteadyClock::now();
         EXPECT_EQ(b.tool->ExchangeBlock(kB0), AckFor(kB0));
         EXPECT_GE(SteadyClock::now() - start, milliseconds(150));
     },
     57600},
    {"UnplugAtBlock", With([](FaultSettings& f) { f.unplugAtBlock = 1; }),
     [](Bench& b) {
         ASSERT_FALSE(b.phone.DeviceLink().empty());
         EXPECT_TRUE(std::filesystem::is_symlink(b.phone.DeviceLink()));
         EXPECT_EQ(b.tool->Exchange(EraseBlocks(2)), kRequestAck);
         EXPECT_EQ(b.tool->ExchangeBlock(kB0), AckFor(kB0));
         ASSERT_TRUE(b.tool->Send(kB1));
         EXPECT_TRUE(b.tool->WaitHangUp());
         EXPECT_FALSE(
             std::filesystem::exists(std::filesystem::symlink_status(b.phone.DeviceLink())));
         EXPECT_TRUE(b.phone.Stats().unplugged);
         EXPECT_EQ(b.Flash(kBase + kBlock), kErased);
     }},
    {"RawXonXoff", With([](FaultSettings& f) { f.rawXonXoff = true; }),
     [](Bench& b) {
         // With XON/XOFF on, the tool's port swallows the raw 0x13 of the check value.
         const Bytes block = BlockWithCheckByte(0x13);
         EXPECT_EQ(b.tool->Exchange(EraseBlocks(1)), kRequestAck);
         const std::optional<Bytes> answer = b.tool->ExchangeBlock(block);
         ASSERT_TRUE(answer.has_value());
         EXPECT_NE(*answer, AckFor(block));
     }},
    {"XoffDuringEraseOnTheWire", With([](FaultSettings& f) {
         f.xoffDuringErase = true;
         f.slowEraseMs = 50;
     }),
     [](Bench& b) {
         ASSERT_TRUE(b.tool->SendRequest(EraseBlocks(1)));
         EXPECT_EQ(b.tool->ReadRaw(7), (Bytes{0x13, 0x11, 0x7E, 0x02, 0x6A, 0xD3, 0x7E}));
     },
     0, false},
    {"XoffDuringEraseSwallowedByTheTool", With([](FaultSettings& f) { f.xoffDuringErase = true; }),
     [](Bench& b) {
         EXPECT_EQ(b.tool->Exchange(EraseBlocks(1)), kRequestAck);
         // The tool's output runs again after the XON: the block gets through.
         EXPECT_EQ(b.tool->ExchangeBlock(kB0), AckFor(kB0));
     }},
    {"XoffHoldOnTheWire", With([](FaultSettings& f) {
         f.xoffHold = XoffHold{1, 200};
     }),
     [](Bench& b) {
         EXPECT_EQ(b.tool->Exchange(EraseBlocks(3)), kRequestAck);
         EXPECT_EQ(b.tool->ExchangeBlock(kB0), AckFor(kB0));
         const auto start = SteadyClock::now();
         EXPECT_EQ(b.tool->ExchangeBlock(kB1), AckFor(kB1));
         EXPECT_EQ(b.tool->ReadRaw(1), Bytes{0x13});
         EXPECT_EQ(b.tool->ReadRaw(1), Bytes{0x11});
         EXPECT_GE(SteadyClock::now() - start, milliseconds(200));
         // Once only: the same place again is answered plainly.
         EXPECT_EQ(b.tool->ExchangeBlock(RetryPacket()), kRetryAck);
         EXPECT_EQ(b.tool->ExchangeBlock(kB1), AckFor(kB1));
         EXPECT_EQ(b.tool->ExchangeBlock(kB2), AckFor(kB2));
         EXPECT_FALSE(b.tool->HasInput());
         EXPECT_EQ(b.phone.Stats().xoffHolds, 1u);
     },
     0, false},
    {"XoffHoldSwallowedByTheTool", With([](FaultSettings& f) {
         f.xoffHold = XoffHold{1, 200};
     }),
     [](Bench& b) {
         EXPECT_EQ(b.tool->Exchange(EraseBlocks(3)), kRequestAck);
         EXPECT_EQ(b.tool->ExchangeBlock(kB0), AckFor(kB0));
         EXPECT_EQ(b.tool->ExchangeBlock(kB1), AckFor(kB1));
         // Held until the XON; then the block goes to its own place.
         EXPECT_EQ(b.tool->ExchangeBlock(kB2), AckFor(kB2));
         EXPECT_EQ(b.Flash(kBase, 3), Concat({kB0, kB1, kB2}));
         EXPECT_EQ(b.phone.Stats().xoffHolds, 1u);
     }},
};

class PhoneFault : public ::testing::TestWithParam<FaultRow> {
  protected:
    void TearDown() override {
        if (!linkDir_.empty()) {
            std::filesystem::remove_all(linkDir_);
        }
    }

    std::string MakeLinkDir() {
        char pattern[] = "/tmp/phonesim-fault-XXXXXX";
        const char* dir = ::mkdtemp(pattern);
        linkDir_ = dir != nullptr ? dir : "";
        return linkDir_;
    }

    std::string linkDir_;
};

TEST_P(PhoneFault, ShowsOnTheLine) {
    const FaultRow& row = GetParam();
    PhoneOptions options;
    options.baud = row.baud;
    options.faults = row.faults;
    const std::string dir = MakeLinkDir();
    ASSERT_FALSE(dir.empty());
    options.deviceLink = dir + "/tfusbmd00";
    Bench bench;
    ASSERT_TRUE(bench.Start(options, row.flowControl)) << bench.phone.Error();
    row.check(bench);
}

INSTANTIATE_TEST_SUITE_P(Rows, PhoneFault, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<FaultRow>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
}  // namespace tarnflow::phonesim::testing
