#include "engine/Thrdrx.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/PortNames.h"
#include "support/FakeOwner.h"
#include "support/PtyPair.h"

namespace tarnflow {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::FakeOwner;
using testing::PtyPair;

constexpr int kEntry = 3;

// A link opened on a pseudo-terminal slave with its receive thread; the test plays the phone on
// the master.
class ReceiveThread : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pty.Valid()) << pty.Error();
        link.SetPortNumber(static_cast<uint8_t>(PortNames::NumberFor(pty.SlavePath())));
        link.entryIndex = kEntry;
        link.frameMode = 1;
        link.Attach(&owner, &queue);
        ASSERT_EQ(link.Open(), 1);
        thread.Start(&owner, &link, &queue, kEntry);
    }
    void TearDown() override {
        link.Shutdown();
        thread.Join();
    }

    PtyPair pty;
    FakeOwner owner;
    CTextQ queue;
    CBssComm link;
    CThreadRX thread;
};

TEST_F(ReceiveThread, AResponseArrivesAsExactlyOnePacket) {
    ASSERT_TRUE(thread.Resume());
    ASSERT_TRUE(pty.WriteMaster(Bytes{0x7E, 0x02, 0x6A, 0xD3, 0x7E}));
    const auto message = owner.NextMessage();
    ASSERT_TRUE(message.has_value());
    EXPECT_EQ(*message, (Message{WM_RX_PACKET, kEntry, 0}));
    uint8_t response[3];
    link.CopyResponse(response, 3);
    EXPECT_EQ(Bytes(response, response + 3), (Bytes{0x02, 0x6A, 0xD3}));
    // Nothing else follows the packet.
    EXPECT_FALSE(owner.NextMessage(std::chrono::milliseconds(100)).has_value());
}

TEST_F(ReceiveThread, ClosingThePortEndsTheThreadWithOneNotice) {
    ASSERT_TRUE(thread.Resume());
    // A packet first, so the thread is known to be in its loop when the port closes.
    ASSERT_TRUE(pty.WriteMaster(Bytes{0x7E, 0x02, 0x6A, 0xD3, 0x7E}));
    ASSERT_EQ(owner.NextMessage()->message, WM_RX_PACKET);
    link.Shutdown();
    thread.Join();
    EXPECT_EQ(owner.DrainMessages(), (std::vector<Message>{{WM_RX_THREAD_END, kEntry, 0}}));
    EXPECT_EQ(rxStopFlag[kEntry].load(), 1);
}

TEST_F(ReceiveThread, APulledDeviceEndsTheThread) {
    ASSERT_TRUE(thread.Resume());
    pty.CloseMaster();
    const auto message = owner.NextMessage();
    ASSERT_TRUE(message.has_value());
    EXPECT_EQ(*message, (Message{WM_RX_THREAD_END, kEntry, 0}));
}

TEST_F(ReceiveThread, AStopFlagAlreadySetLeavesAtOnceAndReports) {
    rxStopFlag[kEntry].store(1);
    ASSERT_TRUE(thread.Resume());
    thread.Join();
    EXPECT_EQ(owner.DrainMessages(), (std::vector<Message>{{WM_RX_THREAD_END, kEntry, 0}}));
    EXPECT_TRUE(link.portOpen);
}

TEST_F(ReceiveThread, APortClosedBeforeTheStartGivesTheMaskText) {
    link.Shutdown();
    ASSERT_TRUE(thread.Resume());
    thread.Join();
    EXPECT_EQ(owner.DrainMessages(),
              (std::vector<Message>{{WM_TEXT_QUEUED, kEntry, 0}, {WM_RX_THREAD_END, kEntry, 0}}));
    CTextQItem item;
    ASSERT_TRUE(queue.RemoveHead(item));
    EXPECT_EQ(item.type, TEXT_PROGRESS);
    EXPECT_EQ(item.text, "\nFail to set Comm mask\n\n");
}

TEST_F(ReceiveThread, ASteadyStreamWithShortGapsIsOneBurst) {
    ASSERT_TRUE(thread.Resume());
    // One frame trickled in a byte at a time, each gap well inside one read cycle. Were the
    // burst to end between two bytes, the frame would be lost.
    const Bytes frame = {0x7E, 0x02, 0x12, 0x34, 0x56, 0x78, 0x7E};
    for (uint8_t byte : frame) {
        ASSERT_TRUE(pty.WriteMaster(&byte, 1));
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const auto message = owner.NextMessage();
    ASSERT_TRUE(message.has_value());
    EXPECT_EQ(message->message, WM_RX_PACKET);
    uint8_t response[5];
    link.CopyResponse(response, 5);
    EXPECT_EQ(Bytes(response, response + 5), (Bytes{0x02, 0x12, 0x34, 0x56, 0x78}));
}

TEST_F(ReceiveThread, OverflowDropsTheRestOfTheBurst) {
    ASSERT_TRUE(thread.Resume());
    const Bytes frame = {0x7E, 0x02, 0x6A, 0xD3, 0x7E};
    Bytes noise(600 + frame.size(), 0x41);
    std::copy(frame.begin(), frame.end(), noise.begin() + 600);
    ASSERT_TRUE(pty.WriteMaster(noise));
    EXPECT_FALSE(owner.NextMessage(std::chrono::milliseconds(300)).has_value());
    EXPECT_EQ(queue.GetCount(), 0u);
}

}  // namespace
}  // namespace tarnflow
