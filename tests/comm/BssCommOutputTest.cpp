#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "comm/bsscomm.h"
#include "platform/Messages.h"
#include "platform/PortNames.h"
#include "support/FakeOwner.h"
#include "support/PtyPair.h"
#include "support/WaitUntil.h"

namespace tarnflow {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::FakeOwner;
using testing::PtyPair;
using namespace std::chrono_literals;
using testing::WaitUntil;

// Real-time safety net against hangs; nothing is measured against it.
constexpr auto kLimit = 5s;

const Bytes kJumpFrame{0x7E, 0xC0, 0x74, 0x36, 0x7E, 0x00, 0x00, 0x00};

// No XON (0x11) or XOFF (0x13) in it: the tty would take those as flow control.
Bytes Block(uint8_t seed, size_t size = kBlockSize) {
    Bytes bytes(size);
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(0x20 + (i * 7 + seed) % 0xC0);
    }
    return bytes;
}

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::set<int> Tasks() {
    std::set<int> tasks;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
        tasks.insert(std::stoi(entry.path().filename().string()));
    }
    return tasks;
}

// True while thread `tid` sleeps in a system call (the kernel writes "running" otherwise).
bool Sleeping(int tid) {
    std::ifstream file("/proc/self/task/" + std::to_string(tid) + "/syscall");
    long number = -1;
    return static_cast<bool>(file >> number);
}

// Processor time thread `tid` has used, in nanoseconds.
std::optional<uint64_t> RunTime(int tid) {
    std::ifstream file("/proc/self/task/" + std::to_string(tid) + "/schedstat");
    uint64_t ns = 0;
    if (!(file >> ns)) {
        return std::nullopt;
    }
    return ns;
}

// A link object opened on the slave of a pseudo-terminal; the test plays the phone on the
// master, holding the link's output with XOFF and letting it go with XON.
class BssCommOutput : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(OpenOn(pty)); }

    void OpenOn(PtyPair& line) {
        ASSERT_TRUE(line.Valid()) << line.Error();
        const int number = PortNames::NumberFor(line.SlavePath());
        ASSERT_NE(number, 0);
        link.SetPortNumber(static_cast<uint8_t>(number));
        link.entryIndex = 4;
        link.Attach(&owner, &queue);
        // A sanitizer starts a helper thread with the first thread of the process; start one
        // here first, so that the only thread Open adds is the link's.
        std::thread([] {}).join();
        const std::set<int> before = Tasks();
        ASSERT_EQ(link.Open(), 1);
        std::set<int> started;
        for (const int task : Tasks()) {
            if (before.count(task) == 0) {
                started.insert(task);
            }
        }
        transmitTid = started.size() == 1 ? *started.begin() : 0;
    }

    // The phone's XOFF followed by a byte: once that byte is waiting, the tty has taken the
    // XOFF in and holds the link's output.
    void HoldOutput() {
        ASSERT_TRUE(pty.WriteMaster({0x13, 0x41}));
        ASSERT_TRUE(WaitUntil([&] { return link.Port().BytesWaiting() == 1; }));
        uint8_t byte = 0;
        ASSERT_EQ(link.Read(&byte, 1), 1);
    }

    int Write(const Bytes& bytes) {
        return link.Write(bytes.data(), static_cast<int>(bytes.size()));
    }

    PtyPair pty;
    FakeOwner owner;
    CTextQ queue;
    CBssComm link;
    int transmitTid = 0;  // the link's transmit thread, as the kernel numbers it
};

TEST_F(BssCommOutput, HeldBlockWaitsAndLeavesWholeAheadOfTheNextRequestOnXon) {
    ASSERT_NO_FATAL_FAILURE(HoldOutput());
    const Bytes block = Block(1);
    EXPECT_EQ(Write(block), 1);
    EXPECT_TRUE(link.OutputPending());
    link.RequestJump();
    EXPECT_TRUE(link.OutputPending());
    EXPECT_TRUE(pty.ReadMaster(1, 100ms).empty());

    ASSERT_TRUE(pty.WriteMaster({0x11}));
    EXPECT_EQ(pty.ReadMaster(block.size() + kJumpFrame.size()), Concat(block, kJumpFrame));
    EXPECT_TRUE(WaitUntil([&] { return !link.OutputPending(); }));
    EXPECT_FALSE(link.OutputFailed());
    EXPECT_TRUE(pty.ReadMaster(1, 100ms).empty());

    // Nothing is left over: the next block goes straight out.
    const Bytes next = Block(2);
    EXPECT_EQ(Write(next), 1);
    EXPECT_EQ(pty.ReadMaster(next.size()), next);
    EXPECT_FALSE(link.OutputPending());
}

TEST_F(BssCommOutput, OutputBeyondAFullQueueFollowsInOrderOnceThePhoneReads) {
    // Far more than a pseudo-terminal buffers: a phone not reading fills the queue part way.
    const Bytes flood = Block(3, 1 << 20);
    EXPECT_EQ(Write(flood), 1);
    EXPECT_TRUE(link.OutputPending());
    link.RequestJump();
    EXPECT_EQ(pty.ReadMaster(flood.size() + kJumpFrame.size()), Concat(flood, kJumpFrame));
    EXPECT_TRUE(WaitUntil([&] { return !link.OutputPending(); }));
    EXPECT_FALSE(link.OutputFailed());
}

TEST_F(BssCommOutput, CloseDropsPendingOutputAndTheLinkOpensAgain) {
    ASSERT_NO_FATAL_FAILURE(HoldOutput());
    EXPECT_EQ(Write(Block(4)), 1);
    ASSERT_TRUE(link.OutputPending());

    auto closed = std::async(std::launch::async, [&] { return link.Close(); });
    const bool ended = closed.wait_for(kLimit) == std::future_status::ready;
    EXPECT_TRUE(ended) << "Close hung with output pending";
    if (!ended) {
        pty.CloseMaster();  // frees the transmit thread so the test can end
    }
    EXPECT_EQ(closed.get(), 1);
    EXPECT_FALSE(link.OutputPending());
    EXPECT_FALSE(link.OutputFailed());
    EXPECT_EQ(Write(Block(5)), 0);
    EXPECT_TRUE(owner.Boxes().empty());

    // The XOFF of the last session is not carried over, nor is the dropped block.
    ASSERT_EQ(link.Open(), 1);
    link.RequestJump();
    EXPECT_EQ(pty.ReadMaster(kJumpFrame.size()), kJumpFrame);
    EXPECT_TRUE(pty.ReadMaster(1, 100ms).empty());
    EXPECT_FALSE(link.OutputPending());
}

TEST_F(BssCommOutput, OpenOnAnOpenLinkIsRefusedAndKeepsIt) {
    EXPECT_EQ(link.Open(), 0);
    EXPECT_EQ(link.portOpen, 1);
    link.RequestJump();
    EXPECT_EQ(pty.ReadMaster(kJumpFrame.size()), kJumpFrame);
    EXPECT_EQ(link.Close(), 1);
}

class BssCommHangUp : public BssCommOutput, public ::testing::WithParamInterface<bool> {};

TEST_P(BssCommHangUp, HungUpLineFailsTheOutputUntilTheNextOpen) {
    const bool pendingAtHangUp = GetParam();
    if (pendingAtHangUp) {
        ASSERT_NO_FATAL_FAILURE(HoldOutput());
        EXPECT_EQ(Write(Block(6)), 1);
        ASSERT_TRUE(link.OutputPending());
    }
    pty.CloseMaster();
    if (pendingAtHangUp) {
        // The transmit thread finds out on its own.
        EXPECT_TRUE(WaitUntil([&] { return link.OutputFailed(); }));
    } else {
        EXPECT_FALSE(link.OutputFailed());
        EXPECT_EQ(Write(Block(7)), 0);
        EXPECT_TRUE(link.OutputFailed());
    }
    EXPECT_FALSE(link.OutputPending());
    EXPECT_EQ(Write(Block(8)), 0);
    EXPECT_FALSE(link.OutputPending());
    EXPECT_EQ(link.Close(), 1);

    PtyPair other;
    ASSERT_NO_FATAL_FAILURE(OpenOn(other));
    EXPECT_FALSE(link.OutputFailed());
    const Bytes block = Block(9);
    EXPECT_EQ(Write(block), 1);
    EXPECT_EQ(other.ReadMaster(block.size()), block);
    EXPECT_EQ(link.Close(), 1);
}

INSTANTIATE_TEST_SUITE_P(When, BssCommHangUp, ::testing::Values(false, true), [](const auto& info) {
    return info.param ? "OutputPending" : "OutputIdle";
});

TEST_F(BssCommOutput, TransmitThreadSleepsWhileIdleAndWhileHeld) {
    ASSERT_NE(transmitTid, 0) << "no single thread started by Open";
    ASSERT_TRUE(RunTime(transmitTid).has_value()) << "no schedstat for threads";
    // A round trip through the line, for the link's threads a while with nothing to do.
    const auto roundTrip = [&] {
        ASSERT_TRUE(pty.WriteMaster({0x42}));
        ASSERT_TRUE(WaitUntil([&] { return link.Port().BytesWaiting() == 1; }));
        uint8_t byte = 0;
        ASSERT_EQ(link.Read(&byte, 1), 1);
    };
    const auto expectAsleep = [&](const char* state) {
        SCOPED_TRACE(state);
        ASSERT_TRUE(WaitUntil([&] { return Sleeping(transmitTid); }));
        const auto before = RunTime(transmitTid);
        ASSERT_NO_FATAL_FAILURE(roundTrip());
        EXPECT_EQ(RunTime(transmitTid), before);
        EXPECT_TRUE(Sleeping(transmitTid));
    };
    expectAsleep("idle");
    ASSERT_NO_FATAL_FAILURE(HoldOutput());
    const Bytes block = Block(10);
    EXPECT_EQ(Write(block), 1);
    expectAsleep("held");
    ASSERT_TRUE(pty.WriteMaster({0x11}));
    EXPECT_EQ(pty.ReadMaster(block.size()), block);
    EXPECT_TRUE(WaitUntil([&] { return !link.OutputPending(); }));
    expectAsleep("idle again");
}

// The three threads of a link at work together: the receive side reads and decodes answers
// while the user-interface side writes behind held output and the transmit thread waits to
// finish it.
TEST_F(BssCommOutput, AnswersArriveWhileOutputIsHeld) {
    link.RequestJump();  // frame mode for the answers
    EXPECT_EQ(pty.ReadMaster(kJumpFrame.size()), kJumpFrame);
    owner.DrainMessages();  // the request's progress text
    ASSERT_NO_FATAL_FAILURE(HoldOutput());
    std::thread receiver([&] {
        uint8_t chunk[kReadChunkMax];
        while (link.WaitForInput() == WaitResult::Data) {
            const int n = link.Read(chunk, sizeof chunk);
            if (n > 0) {
                link.ProcessReceived(chunk, n, 4);
            }
        }
    });
    const Bytes block = Block(11);
    EXPECT_EQ(Write(block), 1);
    Bytes expected = block;
    for (uint8_t i = 0; i < 3; ++i) {
        ASSERT_TRUE(pty.WriteMaster({0x7E, 0x02, 0x6A, 0xD3, 0x7E}));
        EXPECT_EQ(owner.NextMessage(), (Message{WM_RX_PACKET, 4, 0}));
        uint8_t answer[3] = {};
        link.CopyResponse(answer, sizeof answer);
        EXPECT_EQ(Bytes(answer, answer + 3), (Bytes{0x02, 0x6A, 0xD3}));
        const uint8_t more = 0x30 + i;
        EXPECT_EQ(link.Write(&more, 1), 1);
        expected.push_back(more);
        EXPECT_TRUE(link.OutputPending());
    }
    ASSERT_TRUE(pty.WriteMaster({0x11}));
    EXPECT_EQ(pty.ReadMaster(expected.size()), expected);
    EXPECT_TRUE(WaitUntil([&] { return !link.OutputPending(); }));
    EXPECT_EQ(link.Close(), 1);
    receiver.join();
}

}  // namespace
}  // namespace tarnflow
