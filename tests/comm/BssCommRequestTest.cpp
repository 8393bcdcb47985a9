#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "comm/bsscomm.h"
#include "platform/PortNames.h"
#include "support/FakeOwner.h"
#include "support/TextQueue.h"
#include "support/PtyPair.h"

namespace tarnflow {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::FakeOwner;
using testing::PtyPair;

// A link object opened on the slave of a pseudo-terminal; the test reads what it sends on the
// master.
class BssCommRequests : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pty.Valid()) << pty.Error();
        const int number = PortNames::NumberFor(pty.SlavePath());
        ASSERT_NE(number, 0);
        link.SetPortNumber(static_cast<uint8_t>(number));
        link.entryIndex = 4;
        link.Attach(&owner, &queue);
        ASSERT_EQ(link.Open(), 1);
    }
    Bytes Wire(size_t n) { return pty.ReadMaster(n); }
    std::vector<CTextQItem> Texts() { return testing::DrainTexts(queue); }

    PtyPair pty;
    FakeOwner owner;
    CTextQ queue;
    CBssComm link;
};

TEST_F(BssCommRequests, EveryRequestFrameAndItsText) {
    struct Row {
        void (*send)(CBssComm&);
        Bytes wire;
        const char* text;
    };
    const Row rows[] = {
        {[](CBssComm& l) { l.RequestDownloadStart(); },
         {0x7E, 0xA0, 0x72, 0x55, 0x7E, 0x00, 0x00, 0x00},
         "다운로드 시작 요청"},
        {[](CBssComm& l) { l.RequestJump(); },
         {0x7E, 0xC0, 0x74, 0x36, 0x7E, 0x00, 0x00, 0x00},
         "Jump 요청"},
        {[](CBssComm& l) { l.RequestFlashErase(0, 0x100000); },
         {0x7E, 0xEE, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x2E, 0x2A, 0x7E, 0x00, 0x00,
          0x00},
         "Flash erase 중... 잠시만 기다리세요"},
    };
    for (const auto& row : rows) {
        row.send(link);
        EXPECT_EQ(Wire(row.wire.size()), row.wire);
        const auto texts = Texts();
        ASSERT_EQ(texts.size(), 1u);
        EXPECT_EQ(texts[0].type, TEXT_PROGRESS);
        EXPECT_EQ(texts[0].text, row.text);
        // The text is queued, and announced, before the request goes out.
        EXPECT_EQ(owner.DrainMessages(), (std::vector<Message>{{WM_TEXT_QUEUED, 4, 0}}));
    }
}

TEST_F(BssCommRequests, EraseTwoCarriesTheAreaLittleEndian) {
    link.RequestFlashErase2(4, 0x00012800);
    const Bytes request = {0xEF, 0x04, 0x00, 0x00, 0x00, 0x00, 0x28, 0x01, 0x00};
    uint8_t expected[kFrameWorkSize];
    const size_t n = EncodeFrame(request.data(), request.size(), true, expected);
    EXPECT_EQ(Wire(n), Bytes(expected, expected + n));
    EXPECT_EQ(link.lastRequestLength, 9);
}

TEST_F(BssCommRequests, FirstRequestSwitchesToFrameMode) {
    EXPECT_EQ(link.frameMode.load(), 0);
    link.RequestJump();
    EXPECT_EQ(link.frameMode.load(), 1);
    EXPECT_EQ(Wire(8), (Bytes{0x7E, 0xC0, 0x74, 0x36, 0x7E, 0x00, 0x00, 0x00}));
}

TEST_F(BssCommRequests, ResendBeforeAnyRequestFramesAnEmptyRequest) {
    link.ResendLastRequest();
    EXPECT_EQ(Wire(4), (Bytes{0x7F, 0x00, 0x00, 0x7E}));
    const auto texts = Texts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].text, "패킷 재전송합니다.");
}

TEST_F(BssCommRequests, ResendAfterEraseSendsTheSameFrameThenItsText) {
    link.RequestFlashErase(0, 0x100000);
    const Bytes first = Wire(16);
    Texts();
    link.ResendLastRequest();
    EXPECT_EQ(Wire(16), first);
    const auto texts = Texts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].type, TEXT_PROGRESS);
    EXPECT_EQ(texts[0].text, "패킷 재전송합니다.");
}

TEST_F(BssCommRequests, BlocksGoOutRawAndSetTheExpectedAck) {
    Bytes block(kBlockSize);
    for (size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<uint8_t>(i * 7 + 0x7D);
    }
    const BlockRecord record{0, 0x400, kBlockSize, block.data()};
    link.SendImageBlock(record);
    EXPECT_EQ(Wire(kBlockSize), block);
    const uint16_t value = BlockCheckValue(block.data(), block.size());
    EXPECT_TRUE(link.CheckBlockAck(value >> 8, value & 0xFF));
    // The retry block goes out raw too and leaves the expected answer alone.
    Bytes retry(kBlockSize, 0);
    const uint8_t signature[] = {0x01, 0x12, 0x73, 0x80, 0x40, 0x67, 0x24, 0x01};
    std::copy(std::begin(signature), std::end(signature), retry.begin());
    link.SendRawBlock(BlockRecord{0, 0, kBlockSize, retry.data()});
    EXPECT_EQ(Wire(kBlockSize), retry);
    EXPECT_TRUE(link.CheckBlockAck(value >> 8, value & 0xFF));
    // Image blocks do not replace the last request.
    EXPECT_EQ(link.lastRequestLength, 0);
}

TEST_F(BssCommRequests, ExpectedAckIsHighByteFirst) {
    const Bytes block(kBlockSize, 0x00);
    link.SendImageBlockExpecting(BlockRecord{0, 0, kBlockSize, block.data()}, 0x1234);
    Wire(kBlockSize);
    EXPECT_TRUE(link.CheckBlockAck(0x12, 0x34));
    EXPECT_FALSE(link.CheckBlockAck(0x34, 0x12));
    link.SendImageBlockExpecting(BlockRecord{0, 0, kBlockSize, block.data()}, 0x5555);
    Wire(kBlockSize);
    EXPECT_TRUE(link.CheckBlockAck(0x55, 0x55));
}

TEST(BssCommPort, WriteOnAClosedPortWritesNothing) {
    CBssComm link;
    const uint8_t byte = 0xA0;
    EXPECT_EQ(link.Write(&byte, 1), 0);
    EXPECT_EQ(link.Close(), 0);
}

TEST(BssCommPort, FailedOpenLeavesThePortClosed) {
    FakeOwner owner;
    CTextQ queue;
    CBssComm link;
    link.SetPortNumber(static_cast<uint8_t>(PortNames::NumberFor("/dev/tarnflow-no-such-tty")));
    link.Attach(&owner, &queue);
    EXPECT_EQ(link.Open(), 0);
    EXPECT_EQ(link.portOpen, 0);
    EXPECT_EQ(link.Close(), 0);
    EXPECT_TRUE(owner.Boxes().empty());
}

TEST(BssCommPort, ReadReturnsWhatWaitsAtMostTheMaximum) {
    PtyPair pty;
    ASSERT_TRUE(pty.Valid());
    FakeOwner owner;
    CTextQ queue;
    CBssComm link;
    link.SetPortNumber(static_cast<uint8_t>(PortNames::NumberFor(pty.SlavePath())));
    link.Attach(&owner, &queue);
    ASSERT_EQ(link.Open(), 1);
    uint8_t buffer[kReadChunkMax];
    EXPECT_EQ(link.Read(buffer, sizeof buffer), 0);

    Bytes bytes(700);
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(0x20 + i % 0x50);  // no XON/XOFF characters
    }
    ASSERT_TRUE(pty.WriteMaster(bytes));
    ASSERT_EQ(link.WaitForInput(), WaitResult::Data);
    // The pty hands the bytes over in pieces; a real-time guard only, not a measured wait.
    for (int guard = 0; guard < 5000 && link.Port().BytesWaiting() < bytes.size(); ++guard) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(link.Port().BytesWaiting(), 700u);
    EXPECT_EQ(link.Read(buffer, 512), 512);
    EXPECT_EQ(Bytes(buffer, buffer + 512), Bytes(bytes.begin(), bytes.begin() + 512));
    EXPECT_EQ(link.Read(buffer, 512), 188);
    EXPECT_EQ(Bytes(buffer, buffer + 188), Bytes(bytes.begin() + 512, bytes.end()));
}

}  // namespace
}  // namespace tarnflow
