// Compare of the old and new code images in 128 KiB windows, on real files, and the download of
// the runs it finds.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "EngineHarness.h"

namespace tarnflow {
namespace {

using testing::BlockAt;
using testing::Bytes;
using testing::kAck;
using testing::Text;

constexpr size_t kWindow = kCompareWindow;

using RunSpan = std::pair<int, int>;  // start window, count

std::vector<RunSpan> RunsOf(const std::array<CompareRun, kMaxRuns>& table, int count) {
    std::vector<RunSpan> runs;
    for (int k = 0; k < count; ++k) {
        runs.emplace_back(table[k].start, table[k].count);
    }
    return runs;
}

std::string Printf(const char* format, int a, int b = 0) {
    char text[160];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

// The texts Compare queues for entry 2 for these runs.
std::vector<Text> CompareTexts(const std::vector<RunSpan>& runs) {
    std::vector<Text> texts;
    int total = 0;
    for (const auto& run : runs) {
        texts.emplace_back(
            TEXT_PROGRESS,
            Printf(" Different Start Block Index is  %d &&& Count is %d\n", run.first, run.second));
        total += run.second;
    }
    texts.emplace_back(TEXT_PROGRESS,
                       Printf(" 다운로드 반복 횟수 %d\n", static_cast<int>(runs.size())));
    texts.emplace_back(TEXT_PROGRESS, Printf("Total Differnt Download Blocks %d\n", total));
    texts.emplace_back(TEXT_PROGRESS, "Compare Complete");
    return texts;
}

class Compare : public testing::EngineFixture {
  protected:
    Compare() { engine.selection.m_nDloadType = DOWNLOAD_COMPARE; }

    // OLD is NEW with one byte changed in each window of `differing`, then cut or extended to
    // `oldSize`.
    void WriteImages(const Bytes& newImage, const std::vector<size_t>& differing, size_t oldSize) {
        Bytes old = newImage;
        for (size_t window : differing) {
            old[window * kWindow + 0x100] ^= 0xFF;
        }
        old.resize(oldSize, 0xAA);
        engine.selection.check[KIND_CODE_NEW] = 1;
        engine.selection.imagePath[KIND_CODE_NEW] = WriteFile("new.bin", newImage);
        engine.selection.imagePath[KIND_CODE_OLD] = WriteFile("old.bin", old);
    }
    std::vector<RunSpan> Runs() const { return RunsOf(engine.runTable, engine.runCount); }
};

struct CompareRow {
    const char* name;
    size_t newSize;
    std::vector<size_t> differing;
    size_t oldSize;
    std::vector<RunSpan> runs;
};

void PrintTo(const CompareRow& row, std::ostream* out) {
    *out << row.name;
}

class CompareWindows : public Compare, public ::testing::WithParamInterface<CompareRow> {};

TEST_P(CompareWindows, FindsTheRuns) {
    const CompareRow& row = GetParam();
    WriteImages(testing::PatternImage(row.newSize, 1), row.differing, row.oldSize);
    engine.OnCompare();
    EXPECT_EQ(Runs(), row.runs);
    EXPECT_EQ(Texts(1), CompareTexts(row.runs));
    EXPECT_TRUE(Texts(0).empty());
    EXPECT_TRUE(host.boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, CompareWindows,
    ::testing::Values(
        CompareRow{"TwoMiddleWindows", 4 * kWindow, {1, 2}, 4 * kWindow, {{1, 2}}},
        CompareRow{"ThreeOfFive", 5 * kWindow, {0, 2, 3}, 5 * kWindow, {{0, 1}, {2, 2}}},
        CompareRow{"LastWindow", 4 * kWindow, {3}, 4 * kWindow, {{3, 1}}},
        CompareRow{"Identical", 4 * kWindow, {}, 4 * kWindow, {}},
        // The last window of NEW holds 0x10000 bytes.
        CompareRow{"PartialLastWindowDiffers", kWindow + 0x10000, {1}, kWindow + 0x10000, {{1, 1}}},
        CompareRow{"PartialLastWindowEqual", kWindow + 0x10000, {}, kWindow + 0x10000, {}},
        CompareRow{"OldLongerThanNew", kWindow + 0x10000, {}, 2 * kWindow, {{1, 1}}},
        CompareRow{"OldShorterThanNew", 3 * kWindow, {}, kWindow + 0x10000, {{1, 2}}}),
    [](const ::testing::TestParamInfo<CompareRow>& info) { return std::string(info.param.name); });

TEST_F(Compare, OtherDownloadTypeIsRefusedAndLeavesNoRuns) {
    WriteImages(testing::PatternImage(4 * kWindow, 1), {1}, 4 * kWindow);
    engine.runTable[0] = {3, 3};
    engine.runCount = 1;
    engine.selection.m_nDloadType = 0;
    engine.OnCompare();
    EXPECT_EQ(host.BoxTexts(),
              std::vector<std::string>{"Download Type is not Compare Emergency!!"});
    EXPECT_EQ(engine.runCount, 0);
    EXPECT_EQ(RunsOf(engine.runTable, 1), (std::vector<RunSpan>{{0, 0}}));
    EXPECT_TRUE(Texts(1).empty());
}

TEST_F(Compare, FileThatCannotBeOpenedIsRefused) {
    WriteImages(testing::PatternImage(kWindow, 1), {0}, kWindow);
    for (int kind : {KIND_CODE_NEW, KIND_CODE_OLD}) {
        const std::string good = engine.selection.imagePath[kind];
        engine.selection.imagePath[kind] = dir + "/missing.bin";
        host.boxes.clear();
        engine.OnCompare();
        ASSERT_EQ(host.boxes.size(), 1u);
        EXPECT_EQ(host.boxes[0].text,
                  " Fail to read from " + dir + "/missing.bin\n Please Check bin_file !");
        EXPECT_EQ(engine.runCount, 0);
        EXPECT_TRUE(Texts(1).empty());
        engine.selection.imagePath[kind] = good;
    }
}

// 128 runs fill the table; a 129th cannot be kept, so the comparison is refused as a whole.
TEST_F(Compare, MoreThan128RunsAreRefused) {
    const std::string newPath = dir + "/new.bin";
    const std::string oldPath = dir + "/old.bin";
    for (const auto& path : {newPath, oldPath}) {
        std::ofstream(path, std::ios::binary).close();
        std::filesystem::resize_file(path, 258 * kWindow);  // sparse zeros
    }
    auto differIn = [&](size_t window) {
        std::fstream old(oldPath, std::ios::binary | std::ios::in | std::ios::out);
        old.seekp(static_cast<std::streamoff>(window * kWindow));
        old.put(1);
    };
    for (size_t window = 0; window < 256; window += 2) {
        differIn(window);
    }
    engine.selection.imagePath[KIND_CODE_NEW] = newPath;
    engine.selection.imagePath[KIND_CODE_OLD] = oldPath;
    engine.OnCompare();
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_EQ(engine.runCount, 128);
    EXPECT_EQ(Runs().back(), (RunSpan{254, 1}));
    EXPECT_EQ(engine.SumRunBlocks(128), 128);

    differIn(256);
    ClearTexts(1);
    engine.OnCompare();
    EXPECT_EQ(host.BoxTexts(), std::vector<std::string>{
                                   "Too many different blocks: more than 128 runs. Use a normal "
                                   "download."});
    EXPECT_EQ(engine.runCount, 0);
    EXPECT_EQ(RunsOf(engine.runTable, 1), (std::vector<RunSpan>{{0, 0}}));
    EXPECT_EQ(RunsOf(engine.runTable, kMaxRuns), std::vector<RunSpan>(kMaxRuns, RunSpan{0, 0}));
    for (const auto& text : TextStrings(1)) {
        EXPECT_NE(text, "Compare Complete");
    }
}

TEST_F(Compare, DownloadWithoutRunsIsRefused) {
    WriteImages(testing::PhoneCodeImage(kWindow, 0), {}, kWindow);
    engine.OnCompare();
    ASSERT_EQ(engine.runCount, 0);
    Connect(1);
    engine.OnDownload();
    EXPECT_EQ(host.BoxTexts(),
              std::vector<std::string>{"No different block to download. Press Compare first."});
    EXPECT_EQ(engine.entries[0].linkOpen, 0);
    EXPECT_TRUE(Phone(0).Silent());
    EXPECT_FALSE(engine.DownloadRunning());
}

// Runs {0, 1}, {2, 2} and {5, 1}; window 5 is the last one and holds a single block, so the
// last run is cut to it. Each run starts with REQ_DL_START and its own erase; the jump comes
// once.
TEST_F(Compare, DownloadWritesEachRunAfterItsOwnErase) {
    const Bytes next = testing::PhoneCodeImage(5 * kWindow + kBlockSize, 0, 6);
    WriteImages(next, {0, 2, 3, 5}, next.size());
    engine.OnCompare();
    ASSERT_EQ(Runs(), (std::vector<RunSpan>{{0, 1}, {2, 2}, {5, 1}}));
    Connect(1);
    engine.OnDownload();
    struct Expected {
        uint32_t start;
        uint32_t length;
    };
    const Expected runs[] = {{0, 0x20000}, {0x40000, 0x40000}, {0xA0000, 0x400}};
    for (int r = 0; r < 3; ++r) {
        AckRequest(0, REQ_DL_START);
        if (r == 0) {
            AckRequest(0, REQ_JUMP);
        }
        Bytes erase = {REQ_FLASH_ERASE};
        for (const Bytes& part : {testing::Le32(runs[r].start), testing::Le32(runs[r].length)}) {
            erase.insert(erase.end(), part.begin(), part.end());
        }
        EXPECT_EQ(ExpectRequest(0, REQ_FLASH_ERASE), erase) << r;
        ClearTexts(0);
        Respond(0, kAck);
        for (uint32_t at = runs[r].start; at < runs[r].start + runs[r].length; at += kBlockSize) {
            const Bytes expected = BlockAt(next, at);
            if (at == runs[r].start + kBlockSize) {
                EXPECT_EQ(engine.entries[0].timerKind, TIMER_TRANSFER);
                EXPECT_EQ(loop.TimerInterval(0), 3000);
            }
            AckBlock(0, &expected);
        }
        // The run's report, then the request that opens the next run (or the final jump).
        const auto texts = Texts(0);
        ASSERT_GE(texts.size(), 2u);
        EXPECT_EQ(texts[texts.size() - 2],
                  (Text{TEXT_NOTICE, Printf("Complete Dload Block %d\n", r + 1)}));
        EXPECT_EQ(texts.back().second, r < 2 ? "다운로드 시작 요청" : "Jump 요청");
    }
    ExpectRequest(0, REQ_JUMP);
    EXPECT_EQ(host.BoxTexts(), std::vector<std::string>{"Download Completed."});
    Respond(0, kAck);
    EXPECT_EQ(engine.entries[0].outcome, EntryOutcome::Completed);
    EXPECT_FALSE(engine.DownloadRunning());
}

// Compare pressed while a compare download runs builds the table for the next download; the
// running one writes the runs it started with.
TEST_F(Compare, CompareDuringTheDownloadLeavesItsRunsAlone) {
    const Bytes next = testing::PhoneCodeImage(2 * kWindow + kBlockSize, 0, 4);
    WriteImages(next, {0, 2}, next.size());
    engine.OnCompare();
    ASSERT_EQ(Runs(), (std::vector<RunSpan>{{0, 1}, {2, 1}}));
    Connect(1);
    engine.OnDownload();
    RunToErase(0);
    Respond(0, kAck);
    for (uint32_t at = 0; at < kWindow; at += kBlockSize) {
        if (at == kWindow / 2) {
            WriteImages(next, {1}, next.size());
            engine.OnCompare();
            ASSERT_EQ(Runs(), (std::vector<RunSpan>{{1, 1}}));
        }
        const Bytes expected = BlockAt(next, at);
        AckBlock(0, &expected);
    }
    AckRequest(0, REQ_DL_START);
    Bytes erase = {REQ_FLASH_ERASE};
    for (const Bytes& part : {testing::Le32(2 * kWindow), testing::Le32(kBlockSize)}) {
        erase.insert(erase.end(), part.begin(), part.end());
    }
    EXPECT_EQ(ExpectRequest(0, REQ_FLASH_ERASE), erase);
    Respond(0, kAck);
    const Bytes last = BlockAt(next, 2 * kWindow);
    AckBlock(0, &last);
    ExpectRequest(0, REQ_JUMP);
    Respond(0, kAck);
    EXPECT_EQ(engine.entries[0].outcome, EntryOutcome::Completed);
    EXPECT_EQ(engine.entries[0].bytesWritten, kWindow + kBlockSize);
}

}  // namespace
}  // namespace tarnflow
