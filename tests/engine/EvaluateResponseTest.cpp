// How each response is judged, for every code and state, on a phone played over a
// pseudo-terminal.
#include <gtest/gtest.h>

#include "EngineHarness.h"

namespace tarnflow {
namespace {

using testing::Bytes;
using testing::kAck;
using testing::ScriptedPhone;
using testing::Text;
using testing::WireItem;
using Kind = WireItem::Kind;

// What the entry was waiting for when the response came.
enum class State {
    Request,       // the answer to REQ_DL_START
    Jump,          // the answer to the start REQ_JUMP
    Block,         // the answer to block 0 (check value 0x1234 at 0x4000)
    RetryPending,  // block 0 answered with a wrong check value, the Retry Packet sent
    RunEnd         // compare: the answer to the only block of a run
};

constexpr uint32_t kBase = 0x4000;
constexpr int kKilled = -1;
const std::string kResend = "패킷 재전송합니다.";

struct Row {
    const char* name;
    State state;
    Bytes response;
    int answer;  // IDYES / IDNO for the model question, 0 when none is asked
    Kind sent;
    int what;  // request code, or block index from blockBase
    std::vector<Text> texts;
    int timerKind;  // kKilled: no entry timer armed afterwards
    int timerMs;
    int retryPending;
    EntryOutcome outcome;
    bool closed;
};

void PrintTo(const Row& row, std::ostream* out) {
    *out << row.name;
}

class EvaluateResponse : public testing::EngineFixture, public ::testing::WithParamInterface<Row> {
  protected:
    void Reach(State state) {
        if (state == State::RunEnd) {
            ReachRunEnd();
            return;
        }
        image = testing::PhoneCodeImage(0x5000, kBase, 3);
        testing::ForceBlockCheckValue(image, kBase, 0x1234);
        SelectPhoneCode(image);
        Connect(1);
        engine.OnDownload();
        ExpectRequest(0, REQ_DL_START);
        if (state != State::Request) {
            Respond(0, kAck);
            ExpectRequest(0, REQ_JUMP);
        }
        if (state == State::Block || state == State::RetryPending) {
            Respond(0, kAck);
            ExpectRequest(0, REQ_FLASH_ERASE);
            Respond(0, kAck);
            EXPECT_EQ(ExpectBlock(0), testing::BlockAt(image, kBase));
        }
        if (state == State::RetryPending) {
            Respond(0, {ACK, 0x34, 0x12});
            EXPECT_EQ(Phone(0).Next().kind, Kind::Retry);
        }
    }

    // NEW and OLD differ only in the last, partial window: one run of one block.
    void ReachRunEnd() {
        image = testing::PhoneCodeImage(0x20400, 0, 5);
        Bytes old = image;
        old[0x20010] ^= 0xFF;
        engine.selection.m_nDloadType = DOWNLOAD_COMPARE;
        engine.selection.check[KIND_CODE_NEW] = 1;
        engine.selection.imagePath[KIND_CODE_NEW] = WriteFile("new.bin", image);
        engine.selection.imagePath[KIND_CODE_OLD] = WriteFile("old.bin", old);
        engine.OnCompare();
        ASSERT_EQ(engine.runCount, 1);
        Connect(1);
        engine.OnDownload();
        RunToErase(0);
        Respond(0, kAck);
        EXPECT_EQ(ExpectBlock(0), testing::BlockAt(image, 0x20000));
        EXPECT_EQ(engine.entries[0].step, DL_RUN_END);
    }

    Bytes image;
};

TEST_P(EvaluateResponse, Row) {
    const Row& row = GetParam();
    Reach(row.state);
    ASSERT_EQ(engine.entries[0].outcome, EntryOutcome::Running);
    ClearTexts(0);
    host.boxes.clear();
    if (row.answer != 0) {
        host.AnswerNext(row.answer);
    }

    Respond(0, row.response);

    const WireItem sent =
        Phone(0).Next(row.sent == Kind::Nothing ? testing::kSilenceLimit : testing::kExpectLimit);
    EXPECT_EQ(sent.kind, row.sent);
    if (row.sent == Kind::Request) {
        EXPECT_EQ(sent.Code(), row.what);
    } else if (row.sent == Kind::Block) {
        EXPECT_EQ(sent.bytes, testing::BlockAt(image, engine.blockBase + row.what * kBlockSize));
    }
    EXPECT_TRUE(Phone(0).Silent()) << "more than one thing went out";

    EXPECT_EQ(Texts(0), row.texts);
    const EntryRecord& e = engine.entries[0];
    if (row.timerKind == kKilled) {
        EXPECT_FALSE(loop.TimerArmed(0));
    } else {
        EXPECT_TRUE(loop.TimerArmed(0));
        EXPECT_EQ(loop.TimerInterval(0), row.timerMs);
        EXPECT_EQ(e.timerKind, row.timerKind);
    }
    EXPECT_EQ(e.retryPending, row.retryPending);
    EXPECT_EQ(e.outcome, row.outcome);
    if (row.closed) {
        EXPECT_EQ(e.linkOpen, 0);
        EXPECT_EQ(e.comPort, 0);
        EXPECT_EQ(engine.connectedCount(), 0);
        EXPECT_EQ(host.lastStage[0], PROG_ERROR);
    } else {
        EXPECT_EQ(e.linkOpen, 1);
        EXPECT_NE(e.comPort, 0);
        EXPECT_EQ(engine.connectedCount(), 1);
    }
    if (row.answer != 0) {
        ASSERT_EQ(host.boxes.size(), 1u);
        EXPECT_EQ(host.boxes[0].text, "모델 버전이 틀립니다. 계속 할까요?");
        EXPECT_EQ(host.boxes[0].style, MessageBoxStyle::YesNo);
    } else {
        EXPECT_TRUE(host.boxes.empty());
    }
}

constexpr auto R = EntryOutcome::Running;
constexpr auto F = EntryOutcome::Failed;

const Row kRows[] = {
    // ACK after a block: the check value, high byte first.
    {"BlockAckMatches",
     State::Block,
     {ACK, 0x12, 0x34},
     0,
     Kind::Block,
     1,
     {},
     TIMER_TRANSFER,
     5000,
     0,
     R,
     false},
    {"BlockAckBytesSwapped",
     State::Block,
     {ACK, 0x34, 0x12},
     0,
     Kind::Retry,
     0,
     {{TEXT_NOTICE, "CRC Calc result Error at 0x4000"}},
     TIMER_TRANSFER,
     5000,
     1,
     R,
     false},
    // ACK after a request: 6A D3.
    {"RequestAck",
     State::Request,
     kAck,
     0,
     Kind::Request,
     REQ_JUMP,
     {{TEXT_PROGRESS, "Jump 요청"}},
     TIMER_COMMAND,
     100000,
     0,
     R,
     false},
    {"RequestAckDamaged",
     State::Request,
     {ACK, 0x6A, 0xD4},
     0,
     Kind::Request,
     REQ_DL_START,
     {{TEXT_PROGRESS, kResend}, {TEXT_NOTICE, "ACK, but crc error. Retry."}},
     TIMER_TRANSFER,
     5000,
     0,
     R,
     false},
    {"JumpAck",
     State::Jump,
     kAck,
     0,
     Kind::Request,
     REQ_FLASH_ERASE,
     {{TEXT_PROGRESS, "Flash erase 중... 잠시만 기다리세요"}},
     TIMER_ERASE,
     1000,
     0,
     R,
     false},
    {"JumpAckDamaged",
     State::Jump,
     {ACK, 0x6A, 0xD4},
     0,
     Kind::Request,
     REQ_JUMP,
     {{TEXT_PROGRESS, kResend}, {TEXT_NOTICE, "ACK, but crc error. Retry."}},
     TIMER_TRANSFER,
     5000,
     0,
     R,
     false},
    // RETRY_ACK with the Retry Packet outstanding.
    {"RetryAckResendsTheBlock",
     State::RetryPending,
     {RETRY_ACK, 0x03, 0x03},
     0,
     Kind::Block,
     0,
     {{TEXT_NOTICE, "재전송 ACK 받음"}},
     TIMER_TRANSFER,
     5000,
     0,
     R,
     false},
    {"RetryAckDamagedWhilePending",
     State::RetryPending,
     {RETRY_ACK, 0x03, 0x04},
     0,
     Kind::Nothing,
     0,
     {{TEXT_ERROR, "Unknown Error!"}},
     TIMER_TRANSFER,
     5000,
     1,
     R,
     false},
    {"AckToTheRetryPacketStops",
     State::RetryPending,
     {ACK, 0x12, 0x34},
     0,
     Kind::Nothing,
     0,
     {{TEXT_ERROR, "재전송 Cmd를 보내고 0x02 ACK 받음"}},
     kKilled,
     0,
     1,
     F,
     false},
    // RETRY_ACK with nothing outstanding.
    {"UnexpectedRetryAckCloses",
     State::Block,
     {RETRY_ACK, 0x03, 0x03},
     0,
     Kind::Nothing,
     0,
     {{TEXT_ERROR, "Unknown Error!"}},
     kKilled,
     0,
     0,
     F,
     true},
    {"DamagedRetryAckRetriesTheBlock",
     State::Block,
     {RETRY_ACK, 0x00, 0x00},
     0,
     Kind::Retry,
     0,
     {{TEXT_NOTICE, "Retry ACK, but crc error. Retry."}},
     TIMER_TRANSFER,
     5000,
     1,
     R,
     false},
    {"DamagedRetryAckResendsTheRequest",
     State::Request,
     {RETRY_ACK, 0x00, 0x00},
     0,
     Kind::Request,
     REQ_DL_START,
     {{TEXT_PROGRESS, kResend}, {TEXT_NOTICE, "Retry ACK, but crc error. Retry."}},
     TIMER_TRANSFER,
     5000,
     0,
     R,
     false},
    // NAK_RESEND: ask again, with a timer in case the next answer is lost too.
    {"NakResendDuringABlock",
     State::Block,
     {NAK_RESEND, 0x00, 0x00},
     0,
     Kind::Retry,
     0,
     {},
     TIMER_TRANSFER,
     5000,
     1,
     R,
     false},
    {"NakResendAfterARequest",
     State::Request,
     {NAK_RESEND, 0x00, 0x00},
     0,
     Kind::Request,
     REQ_DL_START,
     {{TEXT_PROGRESS, kResend}},
     TIMER_TRANSFER,
     5000,
     0,
     R,
     false},
    // The model question: Yes goes on as after an ACK, No stops the entry.
    {"ModelMismatchYes",
     State::Request,
     {NAK_MODEL_MISMATCH, 0x00, 0x00},
     IDYES,
     Kind::Request,
     REQ_JUMP,
     {{TEXT_PROGRESS, "Jump 요청"}},
     TIMER_COMMAND,
     100000,
     0,
     R,
     false},
    {"ModelMismatchNo",
     State::Request,
     {NAK_MODEL_MISMATCH, 0x00, 0x00},
     IDNO,
     Kind::Nothing,
     0,
     {},
     kKilled,
     0,
     0,
     F,
     false},
    // The refusal took the place of the block's check value: Yes has the block checked again.
    {"ModelMismatchYesDuringABlock",
     State::Block,
     {NAK_MODEL_MISMATCH, 0x00, 0x00},
     IDYES,
     Kind::Retry,
     0,
     {},
     TIMER_TRANSFER,
     5000,
     1,
     R,
     false},
    // Refusals with their clean bytes end the entry; damaged ones are retried.
    {"InvalidCommandToTheStartRequest",
     State::Request,
     {NAK_INVALID_CMD, 0x9E, 0x4C},
     0,
     Kind::Nothing,
     0,
     {{TEXT_ERROR, "Invalid command!!"}},
     kKilled,
     0,
     0,
     F,
     true},
    {"InvalidCommand",
     State::Block,
     {NAK_INVALID_CMD, 0x9E, 0x4C},
     0,
     Kind::Nothing,
     0,
     {{TEXT_ERROR, "Invalid command!!"}},
     kKilled,
     0,
     0,
     F,
     true},
    {"InvalidCommandDamaged",
     State::Block,
     {NAK_INVALID_CMD, 0x9E, 0x4D},
     0,
     Kind::Retry,
     0,
     {{TEXT_NOTICE, "NAK_INVALID_CMD, but crc error. Retry"}},
     TIMER_TRANSFER,
     5000,
     1,
     R,
     false},
    {"FlashError",
     State::Block,
     {NAK_FAILED, 0x00, 0x00},
     0,
     Kind::Nothing,
     0,
     {{TEXT_ERROR, "Flash error!!"}},
     kKilled,
     0,
     0,
     F,
     true},
    {"FlashErrorDamaged",
     State::Block,
     {NAK_FAILED, 0x00, 0x01},
     0,
     Kind::Retry,
     0,
     {{TEXT_NOTICE, "NAK_FAILED, but crc error. Retry"}},
     TIMER_TRANSFER,
     5000,
     1,
     R,
     false},
    // A code outside the protocol is reported and asked for again.
    {"UnknownCodeAfterARequest",
     State::Request,
     {0x55, 0x00, 0x00},
     0,
     Kind::Request,
     REQ_DL_START,
     {{TEXT_ERROR, "Unknown error!!"}, {TEXT_PROGRESS, kResend}},
     TIMER_TRANSFER,
     5000,
     0,
     R,
     false},
    {"UnknownCodeDuringABlock",
     State::Block,
     {0x55, 0x00, 0x00},
     0,
     Kind::Retry,
     0,
     {{TEXT_ERROR, "Unknown error!!"}},
     TIMER_TRANSFER,
     5000,
     1,
     R,
     false},
    // The last block of a compare run is in flight: a retry is the Retry Packet.
    {"RunEndNakResend",
     State::RunEnd,
     {NAK_RESEND, 0x00, 0x00},
     0,
     Kind::Retry,
     0,
     {},
     TIMER_TRANSFER,
     5000,
     1,
     R,
     false},
    {"RunEndDamagedAck",
     State::RunEnd,
     {ACK, 0x00, 0x00},
     0,
     Kind::Retry,
     0,
     {{TEXT_NOTICE, "CRC Calc result Error at 0x20000"}},
     TIMER_TRANSFER,
     5000,
     1,
     R,
     false},
};

INSTANTIATE_TEST_SUITE_P(Table, EvaluateResponse, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& info) {
                             return std::string(info.param.name);
                         });

// The whole repair of a damaged block acknowledgement: CRC text, Retry Packet, RETRY_ACK, the
// same block again, and its correct acknowledgement moves on.
TEST_F(EvaluateResponse, DamagedBlockAckIsRepairedThroughTheRetryPacket) {
    Reach(State::RetryPending);
    ClearTexts(0);
    Respond(0, {RETRY_ACK, 0x03, 0x03});
    EXPECT_EQ(ExpectBlock(0), testing::BlockAt(image, kBase));
    Respond(0, {ACK, 0x12, 0x34});
    EXPECT_EQ(ExpectBlock(0), testing::BlockAt(image, kBase + kBlockSize));
    EXPECT_EQ(engine.entries[0].retryPending, 0);
    EXPECT_EQ(engine.entries[0].blockIndex, 2);
    EXPECT_EQ(Texts(0), (std::vector<Text>{{TEXT_NOTICE, "재전송 ACK 받음"}}));
}

// A phone that answers every block with a wrong check value is asked again ten times in a row,
// then given up like a phone that stopped answering; an accepted answer starts the count again.
TEST_F(EvaluateResponse, RetriesWithoutProgressAreBounded) {
    Reach(State::Block);
    auto damagedAcks = [&](int count) {
        for (int k = 0; k < count; ++k) {
            Respond(0, {ACK, 0x12, 0x35});
            ASSERT_EQ(Phone(0).Next().kind, Kind::Retry);
            Respond(0, {RETRY_ACK, 0x03, 0x03});
            ASSERT_EQ(Phone(0).Next().kind, Kind::Block);
        }
    };
    damagedAcks(kMaxResendsWithoutProgress);
    Respond(0, {ACK, 0x12, 0x34});
    ASSERT_EQ(ExpectBlock(0), testing::BlockAt(image, kBase + kBlockSize));
    damagedAcks(kMaxResendsWithoutProgress);
    EXPECT_EQ(engine.entries[0].outcome, EntryOutcome::Running);

    ClearTexts(0);
    Respond(0, {ACK, 0x12, 0x35});
    EXPECT_TRUE(Phone(0).Silent());
    const auto texts = Texts(0);
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[1], (Text{TEXT_ERROR, "No progress after 10 retries."}));
    EXPECT_EQ(texts[2], (Text{TEXT_ERROR, "응답없음. 처음부터 다시 해주시기 바랍니다."}));
    EXPECT_EQ(engine.entries[0].outcome, EntryOutcome::Failed);
    EXPECT_EQ(engine.entries[0].comPort, 0);
    EXPECT_FALSE(loop.TimerArmed(0));
    EXPECT_FALSE(engine.DownloadRunning());
}

// A response for an entry that is no longer downloading must not restart it.
TEST_F(EvaluateResponse, PacketsForAnEntryThatStoppedAreIgnored) {
    Reach(State::Request);
    host.AnswerNext(IDNO);
    Respond(0, {NAK_MODEL_MISMATCH, 0x00, 0x00});
    ASSERT_EQ(engine.entries[0].outcome, EntryOutcome::Failed);
    ClearTexts(0);
    Respond(0, kAck);
    EXPECT_TRUE(Phone(0).Silent());
    EXPECT_TRUE(Texts(0).empty());
    EXPECT_FALSE(loop.TimerArmed(0));
}

}  // namespace
}  // namespace tarnflow
