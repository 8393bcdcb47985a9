#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "engine/EntryRecord.h"
#include "engine/FontAddress.h"
#include "engine/PerfMonitor.h"
#include "engine/ProgressFormat.h"
#include "engine/UpdateTiming.h"

namespace tarnflow {
namespace {

TEST(ProgressFormat, PercentRoundsAsMulDiv) {
    const struct {
        int index, count, percent;
    } rows[] = {{0, 40, 0}, {1, 3, 33}, {2, 3, 67}, {1, 8, 13}, {4, 4, 100}, {0, 0, 0}};
    for (const auto& row : rows) {
        EXPECT_EQ(ProgressPercent(row.index, row.count), row.percent)
            << row.index << "/" << row.count;
    }
}

TEST(ProgressFormat, LabelsAndColoursPerStage) {
    ProgressInput in;
    in.entry = 2;
    in.comPort = 7;
    in.blockIndex = 1;
    in.blockCount = 4;
    in.imageSize = 0x1000;
    const struct {
        int stage;
        const char* label;
        Rgb colour;
        int position;
    } rows[] = {
        {PROG_PERCENT, "Entry 3 (COM7): 0x400 / 0x1000 (25%)", kNavy, 25},
        {PROG_ERROR, "Entry 3 (COM7):  (Error!)", kDarkRed, 100},
        {PROG_ERASING, "Entry 3 (COM7): 0x400 / 0x1000 (Erasing Flash...)", kGreen, 100},
        {PROG_PREPARING, "Entry 3 (COM7): 0x400 / 0x1000 (Preparing...)", kYellow, 100},
        {PROG_NEXT_STEP, "Entry 3 (COM7): 0x400 / 0x1000 (Preparing Next Step...)", kYellow, 100},
        {PROG_COMPLETED, "Entry 3 (COM7): 0x400 / 0x1000 (Download Completed.)", kNavy, 100},
    };
    for (const auto& row : rows) {
        in.stage = row.stage;
        const ProgressView view = DescribeProgress(in);
        EXPECT_EQ(view.label, row.label);
        EXPECT_EQ(view.barColor, row.colour) << row.label;
        EXPECT_EQ(view.position, row.position) << row.label;
        EXPECT_EQ(view.buttonFaceBackground, row.stage == PROG_ERROR);
    }
    // Upper-case hexadecimal without leading zeros.
    in = ProgressInput{0, 1, PROG_PERCENT, 0, 10, 64, 65536};
    EXPECT_EQ(DescribeProgress(in).label, "Entry 1 (COM1): 0x2800 / 0x10000 (16%)");
}

TEST(ProgressFormat, StagesOfStepsTextColoursAndLabels) {
    EXPECT_EQ(StageForStep(DL_START2), PROG_ERASING);
    EXPECT_EQ(StageForStep(DL_ERASE), PROG_ERASING);
    EXPECT_EQ(StageForStep(DL_WAIT), PROG_PREPARING);
    EXPECT_EQ(StageForStep(DL_RESET), PROG_COMPLETED);
    EXPECT_EQ(StageForStep(DL_BOOT_ERASE), PROG_PERCENT);
    EXPECT_EQ(StageForStep(DL_PROGRAM), PROG_PERCENT);
    EXPECT_EQ(ColorForTextType(TEXT_ERROR), kRed);
    EXPECT_EQ(ColorForTextType(TEXT_PROGRESS), kBlack);
    EXPECT_EQ(ColorForTextType(TEXT_NOTICE), kBlue);
    EXPECT_EQ(ColorForTextType(1), kBlue);
    EXPECT_EQ(EntryLabel(4, 7), "Entry 5 (COM7)");
    EXPECT_EQ(EntryLabel(19, 0), "Entry 20");
}

TEST(FontAddress, ParsedAsStrtoulReadsTheAddedPrefix) {
    const struct {
        const char* text;
        FontAddressCheck check;
        uint32_t address;
    } rows[] = {
        {"1F0", FontAddressCheck::Ok, 0x1F0},
        {"12G4", FontAddressCheck::Ok, 0x12},
        {"G12", FontAddressCheck::Ok, 0},
        {"0x10", FontAddressCheck::Ok, 0},
        {"abcdef", FontAddressCheck::Ok, 0xABCDEF},
        {"FFFFFFFF", FontAddressCheck::Ok, 0xFFFFFFFF},
        {"100000000", FontAddressCheck::Ok, 0xFFFFFFFF},
        {"", FontAddressCheck::Empty, 0},
        {"1 0", FontAddressCheck::HasSpace, 0},
        {" ", FontAddressCheck::HasSpace, 0},
    };
    for (const auto& row : rows) {
        uint32_t address = 0x5A5A;
        EXPECT_EQ(ParseFontAddress(row.text, address), row.check) << row.text;
        EXPECT_EQ(address, row.check == FontAddressCheck::Ok ? row.address : 0x5A5Au) << row.text;
    }
}

TEST(UpdateTiming, ElapsedTextAndRefreshGate) {
    EXPECT_EQ(ElapsedTimeText(61500), " 1 min 1 sec");
    EXPECT_EQ(ElapsedTimeText(0), " 0 min 0 sec");
    EXPECT_EQ(ElapsedTimeText(3599999), " 59 min 59 sec");
    EXPECT_EQ(ProgressRefreshMs(0), 500);
    EXPECT_EQ(ProgressRefreshMs(1), 500);
    EXPECT_EQ(ProgressRefreshMs(3), 1500);
    EXPECT_EQ(ProgressRefreshMs(8), 4000);
    EXPECT_EQ(ProgressRefreshMs(20), 4000);
}

TEST(PerfMonitor, LoadBetweenTwoSamplesOfAStatFile) {
    char path[] = "/tmp/tarnflow-stat-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    std::ofstream(path) << "cpu  100 0 100 700 100 0 0 0 0 0\ncpu0 1 2 3 4\n";
    CPerfMonitor monitor;
    ASSERT_TRUE(monitor.Open(path));
    // 300 more busy of 400 more in all: 75 %.
    std::ofstream(path, std::ios::trunc) << "cpu  300 0 200 800 100 0 0 0 0 0\n";
    EXPECT_EQ(monitor.GetCpuLoad(), 75);
    EXPECT_EQ(monitor.GetCpuLoad(), 0);  // nothing happened since
    std::ofstream(path, std::ios::trunc) << "garbage\n";
    EXPECT_EQ(monitor.GetCpuLoad(), 0);
    unlink(path);
    CPerfMonitor missing;
    EXPECT_FALSE(missing.Open("/nonexistent/stat"));
    EXPECT_EQ(missing.GetCpuLoad(), 0);
}

}  // namespace
}  // namespace tarnflow
