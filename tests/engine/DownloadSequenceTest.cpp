// The step machine, the phase end and the start of a download, against phones played over
// pseudo-terminals.
#include <gtest/gtest.h>

#include <algorithm>

#include "EngineHarness.h"
#include "engine/OpenFailure.h"
#include "platform/PortNames.h"

namespace tarnflow {
namespace {

using testing::BlockAt;
using testing::Bytes;
using testing::kAck;
using testing::Le32;
using testing::ScriptedPhone;
using testing::Text;
using testing::WireItem;

Bytes EraseRequest(uint8_t code, uint32_t first, uint32_t length) {
    Bytes request = {code};
    for (const Bytes& part : {Le32(first), Le32(length)}) {
        request.insert(request.end(), part.begin(), part.end());
    }
    return request;
}

bool Contains(const std::vector<std::string>& texts, const std::string& text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

class DownloadSequence : public testing::EngineFixture {
  protected:
    // A Phone Code image whose code (behind a 0x4000 boot area) is `blocks` blocks long.
    void SelectCode(int blocks) {
        image = testing::PhoneCodeImage(0x4000 + blocks * kBlockSize, 0x4000, 9);
        SelectPhoneCode(image);
    }
    // Entry i acknowledges the erase and the code blocks `first` to `last`.
    void AckCode(int i, int first, int last) {
        if (first == 0) {
            Respond(i, kAck);
        }
        for (int k = first; k <= last; ++k) {
            const Bytes expected = BlockAt(image, 0x4000 + k * kBlockSize);
            AckBlock(i, &expected);
        }
    }
    void ExpectFinalJumpCompletes(int i) {
        ExpectRequest(i, REQ_JUMP);
        EXPECT_EQ(engine.entries[i].step, DL_RESET);
        EXPECT_EQ(host.lastStage[i], PROG_COMPLETED);
        EXPECT_EQ(loop.TimerInterval(i), 5000);
        Respond(i, kAck);
        EXPECT_EQ(Texts(i).back(), (Text{TEXT_NOTICE, "Downloading Completed."}));
        EXPECT_EQ(engine.entries[i].outcome, EntryOutcome::Completed);
        EXPECT_EQ(engine.entries[i].linkOpen, 1);
    }

    Bytes image;
};

// How far phone B has come when phone A finishes a one-block image.
enum class Progress { NoAnswer, JumpSent, Erasing, BlockInFlight };

struct StragglerRow {
    const char* name;
    Progress progress;
    bool dropped;
};

class Stragglers : public DownloadSequence, public ::testing::WithParamInterface<StragglerRow> {};

// Only phones still at the start are let go when the first phone finishes; a phone working on
// the image is waited for, however slow.
TEST_P(Stragglers, OnlyPhonesStillAtTheStartAreDropped) {
    const StragglerRow& row = GetParam();
    SelectCode(1);
    Connect(2);
    engine.OnDownload();
    RunToErase(0);
    ExpectRequest(1, REQ_DL_START);
    if (row.progress >= Progress::JumpSent) {
        Respond(1, kAck);
        ExpectRequest(1, REQ_JUMP);
    }
    if (row.progress >= Progress::Erasing) {
        Respond(1, kAck);
        ExpectRequest(1, REQ_FLASH_ERASE);
    }
    if (row.progress >= Progress::BlockInFlight) {
        Respond(1, kAck);
        ExpectBlock(1);
    }
    ClearTexts(1);
    AckCode(0, 0, 0);  // A is done

    if (row.dropped) {
        EXPECT_EQ(Texts(1), (std::vector<Text>{{TEXT_ERROR, "Unknown Error!"}}));
        EXPECT_EQ(host.lastStage[1], PROG_ERROR);
        EXPECT_EQ(engine.connectedCount(), 1);
        EXPECT_EQ(engine.entries[1].linkOpen, 0);
        EXPECT_EQ(engine.entries[1].outcome, EntryOutcome::Failed);
        EXPECT_EQ(host.BoxTexts(), std::vector<std::string>{"Download Completed."});
        ExpectFinalJumpCompletes(0);
        EXPECT_TRUE(Phone(1).Silent());
        EXPECT_FALSE(engine.DownloadRunning());
        return;
    }
    EXPECT_EQ(engine.entries[0].step, DL_WAIT);
    EXPECT_EQ(engine.entries[1].outcome, EntryOutcome::Running);
    EXPECT_TRUE(loop.TimerArmed(1));
    EXPECT_EQ(engine.connectedCount(), 2);
    EXPECT_TRUE(host.boxes.empty());
    if (row.progress == Progress::Erasing) {
        AckCode(1, 0, 0);
    } else {
        Respond(1, ScriptedPhone::AckFor(BlockAt(image, 0x4000)));
    }
    EXPECT_EQ(host.BoxTexts(), std::vector<std::string>{"Download Completed."});
    ExpectFinalJumpCompletes(0);
    ExpectFinalJumpCompletes(1);
    EXPECT_FALSE(engine.DownloadRunning());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Stragglers,
    ::testing::Values(StragglerRow{"NoAnswerToTheStartRequest", Progress::NoAnswer, true},
                      StragglerRow{"NoAnswerToTheJump", Progress::JumpSent, true},
                      StragglerRow{"Erasing", Progress::Erasing, false},
                      StragglerRow{"FirstBlockInFlight", Progress::BlockInFlight, false}),
    [](const ::testing::TestParamInfo<StragglerRow>& info) {
        return std::string(info.param.name);
    });

TEST_F(DownloadSequence, FirstToFinishWaitsAndTheLastEndsThePhase) {
    SelectCode(2);
    Connect(2);
    engine.OnDownload();
    for (int i = 0; i < 2; ++i) {
        RunToErase(i);
        AckCode(i, 0, 0);
    }
    AckCode(0, 1, 1);
    EXPECT_EQ(engine.entries[0].step, DL_WAIT);
    EXPECT_EQ(host.lastStage[0], PROG_NEXT_STEP);
    EXPECT_FALSE(loop.TimerArmed(0));
    EXPECT_TRUE(Phone(0).Silent());
    EXPECT_TRUE(host.boxes.empty());

    AckCode(1, 1, 1);
    EXPECT_EQ(host.BoxTexts(), std::vector<std::string>{"Download Completed."});
    EXPECT_EQ(engine.connectedCount(), 2);
    ExpectFinalJumpCompletes(0);
    ExpectFinalJumpCompletes(1);
    EXPECT_FALSE(engine.DownloadRunning());
    EXPECT_FALSE(engine.IsAnyEntryBusy());
}

TEST_F(DownloadSequence, AnEntryThatGivesUpNoLongerHoldsBackTheOneWaiting) {
    SelectCode(3);
    Connect(2);
    engine.OnDownload();
    for (int i = 0; i < 2; ++i) {
        RunToErase(i);
        AckCode(i, 0, 0);
    }
    AckCode(0, 1, 2);
    ASSERT_EQ(engine.entries[0].step, DL_WAIT);
    ExpectBlock(1);  // B's block 1 is never answered
    for (int timeout = 1; timeout <= 2; ++timeout) {
        loop.AdvanceBy(5000);
        EXPECT_EQ(Phone(1).Next().kind, WireItem::Kind::Retry);
    }
    EXPECT_TRUE(Phone(0).Silent());
    loop.AdvanceBy(5000);
    EXPECT_EQ(engine.entries[1].outcome, EntryOutcome::Failed);
    EXPECT_EQ(host.lastStage[1], PROG_ERROR);
    EXPECT_EQ(host.BoxTexts(), std::vector<std::string>{"Download Completed."});
    ExpectFinalJumpCompletes(0);
    EXPECT_FALSE(engine.DownloadRunning());
    EXPECT_FALSE(engine.IsAnyEntryBusy());
}

// How a phone that has finished the image leaves while it waits for the others.
enum class Leaving { Unplugged, RemovedByPortDiscovery };

class FinisherLeaves : public DownloadSequence, public ::testing::WithParamInterface<Leaving> {};

// Three phones; the first finishes and leaves. The second finishing must not end the phase
// while the third still has blocks to send: only phones still downloading count.
TEST_P(FinisherLeaves, TheOthersStillWaitForTheSlowestPhone) {
    SelectCode(3);
    Connect(3);
    engine.OnDownload();
    for (int i = 0; i < 3; ++i) {
        RunToErase(i);
        AckCode(i, 0, 0);
    }
    AckCode(0, 1, 2);
    ASSERT_EQ(engine.entries[0].step, DL_WAIT);
    if (GetParam() == Leaving::Unplugged) {
        Pty(0).CloseMaster();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (engine.entries[0].linkOpen && std::chrono::steady_clock::now() < deadline) {
            loop.WaitAndDispatch(std::chrono::milliseconds(20));
        }
    } else {
        engine.OnPortRemoval("COM" + std::to_string(engine.entries[0].comPort));
    }
    ASSERT_EQ(engine.entries[0].outcome, EntryOutcome::Failed);
    EXPECT_EQ(engine.connectedCount(), 2);

    AckCode(1, 1, 2);
    EXPECT_EQ(engine.entries[1].step, DL_WAIT);
    EXPECT_EQ(engine.phaseDoneCount(), 1);
    EXPECT_EQ(engine.activeCount(), 2);
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_TRUE(Phone(1).Silent());

    AckCode(2, 1, 2);
    EXPECT_EQ(host.BoxTexts(), std::vector<std::string>{"Download Completed."});
    ExpectFinalJumpCompletes(1);
    ExpectFinalJumpCompletes(2);
    EXPECT_EQ(engine.entries[0].outcome, EntryOutcome::Failed);
    EXPECT_FALSE(engine.DownloadRunning());
}

INSTANTIATE_TEST_SUITE_P(Rows, FinisherLeaves,
                         ::testing::Values(Leaving::Unplugged, Leaving::RemovedByPortDiscovery),
                         [](const ::testing::TestParamInfo<Leaving>& info) {
                             return info.param == Leaving::Unplugged ? "Unplugged"
                                                                     : "RemovedByPortDiscovery";
                         });

// A phone whose port goes away mid-download leaves it at once: nothing more is sent to it.
TEST_F(DownloadSequence, RemovedPhoneStopsRetrying) {
    SelectCode(2);
    Connect(2);
    engine.OnDownload();
    ExpectRequest(1, REQ_DL_START);
    RunToErase(0);
    engine.OnPortRemoval("COM" + std::to_string(engine.entries[1].comPort));
    EXPECT_EQ(engine.entries[1].outcome, EntryOutcome::Failed);
    EXPECT_FALSE(loop.TimerArmed(1));
    loop.AdvanceBy(20000);
    EXPECT_TRUE(Phone(1).Silent());
    EXPECT_EQ(engine.connectedCount(), 1);
}

// After a download, Port Search hands the ports out again while the old links are still open.
// Download must open each entry on the port it holds now.
TEST_F(DownloadSequence, SecondDownloadOpensThePortsAsPortSearchLeftThem) {
    SelectCode(1);
    Connect(2);
    const int ports[2] = {engine.entries[0].comPort, engine.entries[1].comPort};
    for (int round = 0; round < 2; ++round) {
        engine.OnDownload();
        ASSERT_TRUE(host.boxes.empty()) << host.boxes.front().text;
        for (int i = 0; i < 2; ++i) {
            RunToErase(i);
        }
        for (int i = 0; i < 2; ++i) {
            AckCode(i, 0, 0);
        }
        host.boxes.clear();
        for (int i = 0; i < 2; ++i) {
            ExpectFinalJumpCompletes(i);
        }
        // The device map lists the phones the other way round.
        engine.OnPortSearch({{"tfusbmd:b", "COM" + std::to_string(ports[1 - round])},
                             {"tfusbmd:a", "COM" + std::to_string(ports[round])}},
                            "tfusbmd");
        ASSERT_EQ(engine.entries[0].comPort, ports[1 - round]);
        SwapPhones(0, 1);
    }
}

TEST_F(DownloadSequence, VpxImagesFollowEachOtherWithoutASecondJump) {
    const Bytes boot = testing::PatternImage(0x800, 1);
    Bytes code = testing::PatternImage(0xA00, 2);  // padded to three blocks with FF
    engine.selection.check[KIND_VPX_BOOT] = 1;
    engine.selection.imagePath[KIND_VPX_BOOT] = WriteFile("boot.rbin", boot);
    engine.selection.check[KIND_VPX_CODE] = 1;
    engine.selection.imagePath[KIND_VPX_CODE] = WriteFile("code.rbin", code);
    code.resize(0xC00, 0xFF);
    Connect(1);
    engine.OnDownload();
    const auto texts = Texts(0);
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ(texts[0], (Text{TEXT_NOTICE, "VPX Boot Download"}));
    EXPECT_EQ(texts[1], (Text{TEXT_NOTICE, std::string(22, '-')}));

    EXPECT_EQ(RunToErase(0), EraseRequest(REQ_FLASH_ERASE2, 1, 0x800));
    Respond(0, kAck);
    for (int k = 0; k < 2; ++k) {
        const Bytes expected = BlockAt(boot, k * kBlockSize);
        AckBlock(0, &expected);
    }
    // The next image opens with REQ_DL_START, guarded like the first one.
    ExpectRequest(0, REQ_DL_START);
    EXPECT_EQ(engine.entries[0].timerKind, TIMER_COMMAND);
    EXPECT_EQ(loop.TimerInterval(0), 3000);
    EXPECT_TRUE(Contains(TextStrings(0), "VPX Code Download"));
    Respond(0, kAck);
    EXPECT_EQ(ExpectRequest(0, REQ_FLASH_ERASE2), EraseRequest(REQ_FLASH_ERASE2, 2, 0xC00));
    Respond(0, kAck);
    for (int k = 0; k < 3; ++k) {
        const Bytes expected = BlockAt(code, k * kBlockSize);
        AckBlock(0, &expected);
    }
    EXPECT_EQ(host.BoxTexts(), std::vector<std::string>{"Download Completed."});
    ExpectFinalJumpCompletes(0);
}

TEST_F(DownloadSequence, LaterImageThatFailsToLoadEndsTheDownload) {
    const Bytes boot = testing::PatternImage(0x800, 1);
    engine.selection.check[KIND_VPX_BOOT] = 1;
    engine.selection.imagePath[KIND_VPX_BOOT] = WriteFile("boot.rbin", boot);
    engine.selection.check[KIND_VPX_CODE] = 1;
    const std::string missing = dir + "/missing.rbin";
    engine.selection.imagePath[KIND_VPX_CODE] = missing;
    Connect(1);
    engine.OnDownload();
    RunToErase(0);
    Respond(0, kAck);
    AckBlock(0);
    AckBlock(0);

    EXPECT_TRUE(Phone(0).Silent());
    EXPECT_EQ(host.BoxTexts(), std::vector<std::string>{" Fail to read from " + missing +
                                                        "\n Please Check bin_file !"});
    EXPECT_EQ(engine.entries[0].outcome, EntryOutcome::Failed);
    EXPECT_EQ(host.lastStage[0], PROG_ERROR);
    EXPECT_FALSE(loop.TimerArmed(0));
    EXPECT_FALSE(engine.DownloadRunning());
    EXPECT_FALSE(engine.IsAnyEntryBusy());
    loop.AdvanceBy(20000);
    EXPECT_TRUE(Phone(0).Silent());
}

// Start address 0x10000 in a 0x40000 image: 64 boot blocks, then block 64 (the first code
// block) still in the boot programming step, then the code.
TEST_F(DownloadSequence, BootChangeSendsTheBootAreaThenTheCode) {
    image = testing::PhoneCodeImage(0x40000, 0x10000, 4);
    SelectPhoneCode(image, true);
    Connect(1);
    engine.OnDownload();
    EXPECT_EQ(Texts(0).front(), (Text{TEXT_NOTICE, "Phone Code Download[Boot Change]"}));
    EXPECT_EQ(RunToErase(0), EraseRequest(REQ_FLASH_ERASE, 0, 0x40000));
    Respond(0, kAck);
    EXPECT_EQ(ExpectBlock(0), BlockAt(image, 0));
    EXPECT_EQ(engine.entries[0].step, DL_BOOT_PROGRAM);
    EXPECT_EQ(TextStrings(0).back(), "Boot Programming 중");
    EXPECT_EQ(engine.entries[0].timerKind, TIMER_TRANSFER);  // the first boot block is guarded
    EXPECT_EQ(loop.TimerInterval(0), 5000);

    const std::string bootDone = "Boot Processing...잠시만 기다리세요";
    for (int k = 1; k < 256; ++k) {
        Respond(0, testing::ScriptedPhone::AckFor(BlockAt(image, (k - 1) * kBlockSize)));
        ASSERT_EQ(ExpectBlock(0), BlockAt(image, k * kBlockSize)) << k;
        const int step = engine.entries[0].step;
        if (k < 64) {
            ASSERT_EQ(step, DL_BOOT_PROGRAM) << k;
            ASSERT_FALSE(Contains(TextStrings(0), bootDone)) << k;
        } else if (k == 64) {
            EXPECT_EQ(step, DL_ERASE);
            EXPECT_EQ(TextStrings(0).back(), bootDone);
        } else {
            ASSERT_EQ(step, DL_PROGRAM) << k;
        }
        if (k == 65) {
            EXPECT_EQ(TextStrings(0).back(), "Flash Programming 중");
        }
    }
    Respond(0, testing::ScriptedPhone::AckFor(BlockAt(image, 255 * kBlockSize)));
    ExpectFinalJumpCompletes(0);
}

struct Refusal {
    const char* name;
    int phones;
    const char* fontAddress;  // nullptr: Font not selected
    std::vector<std::string> boxes;
};

void PrintTo(const Refusal& row, std::ostream* out) {
    *out << row.name;
}

class DownloadRefusal : public DownloadSequence, public ::testing::WithParamInterface<Refusal> {};

TEST_P(DownloadRefusal, NothingStarts) {
    const Refusal& row = GetParam();
    SelectCode(2);
    if (row.fontAddress != nullptr) {
        engine.selection.check[KIND_FONT] = 1;
        engine.selection.imagePath[KIND_FONT] = WriteFile("font.bin", image);
        engine.selection.m_strFontAddress = row.fontAddress;
    }
    Connect(row.phones);
    const int resets = host.progressResets;
    engine.OnDownload();
    EXPECT_EQ(host.BoxTexts(), row.boxes);
    EXPECT_EQ(host.progressResets, resets);
    EXPECT_FALSE(engine.DownloadRunning());
    EXPECT_FALSE(loop.TimerArmed(ID_TIMER_ELAPSED));
    for (int i = 0; i < row.phones; ++i) {
        EXPECT_EQ(engine.entries[i].linkOpen, 0);
        EXPECT_FALSE(loop.TimerArmed(i));
        EXPECT_TRUE(Phone(i).Silent());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, DownloadRefusal,
    ::testing::Values(Refusal{"NoPhone", 0, nullptr, {"No Phone is connected."}},
                      Refusal{"FontAddressEmpty",
                              1,
                              "",
                              {"Font Address를 입력하세요!", "Font Valid Check Error"}},
                      Refusal{"FontAddressWithSpace",
                              1,
                              "1F 0",
                              {"Font Address를 정확하게 써주세요!", "Font Valid Check Error"}}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

TEST_F(DownloadSequence, PortThatCannotBeOpenedStopsTheStartAtItsSlot) {
    SelectCode(2);
    Connect(2);
    const std::string missing = "/dev/tarnflow-test-no-such-port";
    engine.entries[2].comPort = PortNames::NumberFor(missing);
    engine.OnDownload();
    EXPECT_EQ(host.BoxTexts(), std::vector<std::string>{"COM Port(COMM2) Open Error"});
    EXPECT_EQ(Texts(2),
              (std::vector<Text>{{TEXT_NOTICE, "USB 연결 상태를 확인하세요."},
                                 {TEXT_ERROR, OpenFailureText(missing, SerialError::NotFound)}}));
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(engine.entries[i].linkOpen, 1);
        EXPECT_TRUE(Phone(i).Silent());
    }
    EXPECT_EQ(engine.entries[2].linkOpen, 0);
    EXPECT_EQ(engine.image.GetSize(), 0u);
    EXPECT_FALSE(engine.DownloadRunning());
}

class ProgressRefresh : public DownloadSequence,
                        public ::testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(ProgressRefresh, FollowsThePhoneCount) {
    SelectCode(2);
    Connect(GetParam().first);
    engine.OnDownload();
    EXPECT_TRUE(engine.DownloadRunning());
    EXPECT_EQ(engine.m_nProgressRefreshMs, GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(Phones, ProgressRefresh,
                         ::testing::Values(std::pair{1, 500}, std::pair{3, 1500},
                                           std::pair{8, 4000}));

}  // namespace
}  // namespace tarnflow
