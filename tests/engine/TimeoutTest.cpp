// Entry time-outs, the update timer's interval and the elapsed time, on the virtual clock: no
// test here waits for a time-out in real time.
#include <gtest/gtest.h>

#include "EngineHarness.h"

namespace tarnflow {
namespace {

using testing::Bytes;
using testing::kAck;
using testing::Text;
using testing::WireItem;
using Kind = WireItem::Kind;

class Timeouts : public testing::EngineFixture {
  protected:
    void SetUp() override {
        image = testing::PhoneCodeImage(0x5000, 0x4000, 7);
        SelectPhoneCode(image);
        Connect(1);
        engine.OnDownload();
    }
    // Download start, jump and erase answered; block 0 acknowledged, block 1 in flight.
    void RunToBlockOne() {
        RunToErase(0);
        Respond(0, kAck);
        AckBlock(0);
        EXPECT_EQ(ExpectBlock(0), testing::BlockAt(image, 0x4400));
    }

    Bytes image;
};

TEST_F(Timeouts, SilentPhoneGetsTheRequestTwiceMoreThenGivesUp) {
    ExpectRequest(0, REQ_DL_START);
    ClearTexts(0);
    loop.AdvanceBy(2999);
    EXPECT_TRUE(Phone(0).Silent());
    for (int retry = 1; retry <= 2; ++retry) {
        loop.AdvanceBy(retry == 1 ? 1 : 3000);
        ExpectRequest(0, REQ_DL_START);
        EXPECT_EQ(Texts(0), std::vector<Text>(retry, {TEXT_PROGRESS, "패킷 재전송합니다."}));
    }
    loop.AdvanceBy(3000);
    EXPECT_TRUE(Phone(0).Silent());
    EXPECT_EQ(Texts(0).back(), (Text{TEXT_ERROR, "응답이 없습니다."}));
    EXPECT_FALSE(loop.TimerArmed(0));
    // It stays open in its step, and nothing more happens.
    const EntryRecord& e = engine.entries[0];
    EXPECT_EQ(e.linkOpen, 1);
    EXPECT_NE(e.comPort, 0);
    EXPECT_EQ(e.step, DL_START);
    EXPECT_EQ(engine.connectedCount(), 1);
    loop.AdvanceBy(60000);
    EXPECT_TRUE(Phone(0).Silent());
    EXPECT_EQ(Texts(0).size(), 3u);
    EXPECT_FALSE(engine.DownloadRunning());
}

// Time-outs count within one image, however many blocks went well in between.
TEST_F(Timeouts, SilentBlockGetsTheRetryPacketAndIsDroppedAtTheThird) {
    RunToBlockOne();
    ClearTexts(0);
    loop.AdvanceBy(4999);
    EXPECT_TRUE(Phone(0).Silent());
    loop.AdvanceBy(1);
    EXPECT_EQ(Phone(0).Next().kind, Kind::Retry);
    EXPECT_EQ(Texts(0), (std::vector<Text>{{TEXT_NOTICE, "No response, retry at 0x4400"}}));
    EXPECT_EQ(engine.entries[0].retryPending, 1);

    // The phone recovers: block 1 again, acknowledged, block 2 goes out and is lost.
    Respond(0, {RETRY_ACK, 0x03, 0x03});
    AckBlock(0);
    EXPECT_EQ(ExpectBlock(0), testing::BlockAt(image, 0x4800));
    ClearTexts(0);
    loop.AdvanceBy(5000);
    EXPECT_EQ(Phone(0).Next().kind, Kind::Retry);
    EXPECT_EQ(Texts(0), (std::vector<Text>{{TEXT_NOTICE, "No response, retry at 0x4800"}}));

    loop.AdvanceBy(5000);
    EXPECT_TRUE(Phone(0).Silent());
    EXPECT_EQ(Texts(0).back(), (Text{TEXT_ERROR, "응답없음. 처음부터 다시 해주시기 바랍니다."}));
    const EntryRecord& e = engine.entries[0];
    EXPECT_EQ(host.lastStage[0], PROG_ERROR);
    EXPECT_EQ(e.comPort, 0);
    EXPECT_EQ(e.linkOpen, 0);
    EXPECT_EQ(e.step, DL_START);
    EXPECT_EQ(engine.connectedCount(), 0);
    EXPECT_FALSE(loop.TimerArmed(0));
    EXPECT_FALSE(engine.DownloadRunning());
    EXPECT_FALSE(engine.IsAnyEntryBusy());
}

// The phone acknowledges block 0 and holds the line with XOFF before block 1 can go out.
class FlowControl : public Timeouts {
  protected:
    void HoldAfterBlockZero() {
        RunToErase(0);
        Respond(0, kAck);
        const Bytes block = ExpectBlock(0);
        Bytes held = {0x13};
        const Bytes ack = testing::ScriptedPhone::Frame(testing::ScriptedPhone::AckFor(block));
        held.insert(held.end(), ack.begin(), ack.end());
        ASSERT_TRUE(Pty(0).WriteMaster(held));
        ASSERT_TRUE(WaitForPacket(0));
        EXPECT_TRUE(Phone(0).Silent());
        EXPECT_TRUE(engine.entries[0].link.OutputPending());
    }
};

TEST_F(FlowControl, BlockHeldForTwoSecondsGoesOutWholeAfterXon) {
    HoldAfterBlockZero();
    loop.AdvanceBy(2000);
    ASSERT_TRUE(Pty(0).WriteMaster(Bytes{0x11}));
    for (uint32_t at = 0x4400; at < 0x5000; at += kBlockSize) {
        const Bytes expected = testing::BlockAt(image, at);
        AckBlock(0, &expected);
    }
    ExpectRequest(0, REQ_JUMP);
    Respond(0, kAck);
    EXPECT_EQ(engine.entries[0].outcome, EntryOutcome::Completed);
    EXPECT_EQ(engine.entries[0].retries, 0);
}

// A block that cannot leave within the transfer time-out is not counted as sent: no Retry
// Packet goes behind it, the phone ends with the reason.
TEST_F(FlowControl, BlockHeldPastTheTransferTimeoutEndsThePhone) {
    HoldAfterBlockZero();
    ClearTexts(0);
    loop.AdvanceBy(5000);
    const EntryRecord& e = engine.entries[0];
    EXPECT_EQ(e.outcome, EntryOutcome::Failed);
    EXPECT_EQ(e.linkOpen, 0);
    EXPECT_EQ(e.comPort, 0);
    EXPECT_EQ(host.lastStage[0], PROG_ERROR);
    EXPECT_EQ(Texts(0), (std::vector<Text>{{TEXT_ERROR,
                                            "Write to the phone did not complete: the line "
                                            "stayed held (XOFF)."}}));
    ASSERT_TRUE(Pty(0).WriteMaster(Bytes{0x11}));
    EXPECT_TRUE(Phone(0).Silent());
    EXPECT_FALSE(engine.DownloadRunning());
}

// An erase that is never answered cannot hold the download for ever.
TEST_F(Timeouts, EraseNeverAnsweredGivesUpAtTheLimit) {
    RunToErase(0);
    ClearTexts(0);
    loop.AdvanceBy(kEraseLimitMs - 1000);
    EXPECT_EQ(engine.entries[0].outcome, EntryOutcome::Running);
    loop.AdvanceBy(1000);
    EXPECT_EQ(Texts(0), (std::vector<Text>{{TEXT_ERROR, "응답이 없습니다."}}));
    EXPECT_EQ(engine.entries[0].outcome, EntryOutcome::Failed);
    EXPECT_FALSE(loop.TimerArmed(0));
    EXPECT_FALSE(engine.DownloadRunning());
}

TEST_F(Timeouts, TwoMinuteEraseRaisesNoTimeout) {
    RunToErase(0);
    ClearTexts(0);
    loop.AdvanceBy(120000);
    EXPECT_TRUE(Phone(0).Silent());
    EXPECT_TRUE(Texts(0).empty());
    EXPECT_TRUE(loop.TimerArmed(0));
    EXPECT_EQ(engine.entries[0].timerKind, TIMER_ERASE);
    EXPECT_EQ(engine.entries[0].noResponseCount, 0);
    Respond(0, kAck);
    EXPECT_EQ(ExpectBlock(0), testing::BlockAt(image, 0x4000));
    EXPECT_EQ(Texts(0), (std::vector<Text>{{TEXT_PROGRESS, "Flash Programming 중"}}));
    EXPECT_EQ(engine.entries[0].step, DL_PROGRAM);
}

// The load sampler reads the test's counter file every 500 ms of virtual time.
TEST_F(Timeouts, UpdateIntervalClimbsUnderLoadAndFallsBackWhenIdle) {
    RunToErase(0);  // busy for as long as the erase lasts
    ASSERT_TRUE(engine.IsAnyEntryBusy());
    auto sample = [this](int percent) {
        AddLoad(percent);
        loop.AdvanceBy(500);
        EXPECT_EQ(engine.cpuLoad, percent);
        return loop.TimerInterval(ID_TIMER_UPDATE);
    };
    for (int k = 1; k <= 4; ++k) {
        EXPECT_EQ(sample(80), 500) << k;
    }
    EXPECT_EQ(sample(80), 1000);
    for (int k = 1; k <= 4; ++k) {
        EXPECT_EQ(sample(80), 1000) << k;
    }
    EXPECT_EQ(sample(60), 1000);  // counts towards neither change
    EXPECT_EQ(engine.ladder.lowLoadSamples, 0);
    EXPECT_EQ(sample(80), 1500);

    Respond(0, {NAK_FAILED, 0x00, 0x00});  // the entry ends: nobody is busy
    ASSERT_FALSE(engine.IsAnyEntryBusy());
    EXPECT_EQ(sample(80), 500);
}

TEST(UpdateIntervalLadder, FifthSampleMovesOneStepWithinItsBounds) {
    UpdateIntervalLadder ladder;
    int changes = 0;
    for (int k = 0; k < 5 * 8 + 3; ++k) {
        changes += ladder.OnSample(95, true) ? 1 : 0;
    }
    EXPECT_EQ(ladder.Interval(), 4000);
    EXPECT_EQ(changes, 7);
    for (int k = 1; k <= 4; ++k) {
        EXPECT_FALSE(ladder.OnSample(10, true));
    }
    EXPECT_TRUE(ladder.OnSample(49, true));
    EXPECT_EQ(ladder.Interval(), 3500);
    EXPECT_FALSE(ladder.OnSample(50, true));
    EXPECT_TRUE(ladder.OnSample(0, false));
    EXPECT_EQ(ladder.Interval(), 500);
    EXPECT_FALSE(ladder.OnSample(0, false));
}

TEST_F(Timeouts, ElapsedTimeIsWrittenOncePerSecondShown) {
    RunToErase(0);
    loop.AdvanceBy(61500);
    ASSERT_EQ(host.elapsedTexts.size(), 61u);  // the tick at 0.5 s still shows 0 min 0 sec
    EXPECT_EQ(host.elapsedTexts.front(), " 0 min 1 sec");
    EXPECT_EQ(host.elapsedTexts[59], " 1 min 0 sec");
    EXPECT_EQ(host.elapsedTexts.back(), " 1 min 1 sec");
    EXPECT_TRUE(loop.TimerArmed(ID_TIMER_ELAPSED));

    // Once nobody is busy the next tick stops the timer.
    Respond(0, {NAK_FAILED, 0x00, 0x00});
    loop.AdvanceBy(500);
    EXPECT_FALSE(loop.TimerArmed(ID_TIMER_ELAPSED));
}

}  // namespace
}  // namespace tarnflow
