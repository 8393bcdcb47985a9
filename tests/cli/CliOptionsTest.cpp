#include <gtest/gtest.h>

#include "cli/CliOptions.h"
#include "cli/DownloadRun.h"
#include "cli/HeadlessHost.h"

namespace tarnflow::cli {
namespace {

using Args = std::vector<std::string>;

TEST(CliOptions, ImagesPortsAndAnswers) {
    const auto parsed = ParseOptions({"--code", "a.bin", "--boot-change", "--port", "/dev/pts/1",
                                      "--port", "/dev/pts/2", "--yes", "--json", "r.json"});
    ASSERT_TRUE(parsed.ok) << parsed.error;
    const CliOptions& o = parsed.options;
    EXPECT_EQ(o.selection.check[KIND_CODE_NEW], 1);
    EXPECT_EQ(o.selection.imagePath[KIND_CODE_NEW], "a.bin");
    EXPECT_EQ(o.selection.m_bChangeBootArea, 1);
    EXPECT_EQ(o.ports, (Args{"/dev/pts/1", "/dev/pts/2"}));
    EXPECT_EQ(o.questions, QuestionPolicy::Yes);
    EXPECT_EQ(o.jsonPath, "r.json");
    EXPECT_EQ(o.selection.m_nDloadType, 0);
}

TEST(CliOptions, BadUsageIsRefused) {
    const Args bad[] = {
        {"--code"},                                           // missing file
        {"--code", "a.bin"},                                  // no ports
        {"--code", "a.bin", "--search", "--port", "/dev/x"},  // two port sources
        {"--code", "a.bin", "--search", "--type", "fast"},
        {"--code", "a.bin", "--wait-ports", "21"},
        {"--code", "a.bin", "--wait-ports", "0"},
        {"--code", "a.bin", "--search", "--yes", "--no"},
        {"--code", "a.bin", "--search", "--font-address", "100"},
        {"--code", "a.bin", "--search", "--frobnicate"},
    };
    for (const auto& args : bad) {
        const auto parsed = ParseOptions(args);
        EXPECT_FALSE(parsed.ok) << args.back();
        EXPECT_FALSE(parsed.error.empty());
    }
}

TEST(CliOptions, SelectionFollowsTheWindowsRules) {
    struct Row {
        Args args;
        bool accepted;
    };
    const Row rows[] = {
        {{"--code", "a.bin"}, true},
        {{"--code", "A.BIN"}, true},        // capitals accepted
        {{"--vpx-code", "c.rbin"}, false},  // another kind's extension
        {{"--vpx-contents", "c.rbin", "--vpx-lfs", "l.lfs"}, true},
        {{"--vpx-lfs", "l.bin"}, false},
        {{"--code", "a.bin", "--vpx-boot", "b.bin"}, false},  // two groups
        {{"--old", "o.bin"}, false},                          // OLD alone is no download
        {{"--font", "f.bin", "--font-address", "1F0"}, true},
        {{"--code", "noext"}, false},
        {{"--code", "a.bin", "--type", "compare"}, false},  // compare needs --old
        {{"--code", "a.bin", "--old", "o.bin", "--type", "compare"}, true},
    };
    for (const auto& row : rows) {
        Args args = row.args;
        args.push_back("--search");
        const auto parsed = ParseOptions(args);
        ASSERT_TRUE(parsed.ok) << parsed.error;
        EXPECT_EQ(CheckSelection(parsed.options.selection).empty(), row.accepted) << args[1];
    }
}

TEST(StatusLines, TrimsSurroundingNewlinesAndSplitsInnerOnes) {
    EXPECT_EQ(StatusLines("\n[RX]Bad CRC in response packet\n"),
              (Args{"[RX]Bad CRC in response packet"}));
    EXPECT_EQ(StatusLines("\nFail to set Comm mask\n\n"), (Args{"Fail to set Comm mask"}));
    EXPECT_EQ(StatusLines("a\nb"), (Args{"a", "b"}));
    EXPECT_EQ(StatusLines("Complete Dload Block 1\n"), (Args{"Complete Dload Block 1"}));
    EXPECT_TRUE(StatusLines("\n\n").empty());
    EXPECT_TRUE(StatusLines("").empty());
}

TEST(ReportJson, OneObjectPerEntryWithEscapedText) {
    EntryReport r;
    r.entry = 2;
    r.port = "/dev/pts/\"7\"";
    r.comPort = 3;
    r.outcome = "completed";
    r.bytesWritten = 98304;
    r.retries = 1;
    r.seconds = 1.5;
    const std::string json = ReportJson({r}, 0);
    EXPECT_NE(json.find("\"exitStatus\": 0"), std::string::npos);
    EXPECT_NE(json.find("{\"entry\": 2, \"port\": \"/dev/pts/\\\"7\\\"\", \"com\": 3, "
                        "\"outcome\": \"completed\", \"bytesWritten\": 98304, \"retries\": 1, "
                        "\"seconds\": 1.500}"),
              std::string::npos)
        << json;
    EXPECT_EQ(ReportJson({}, 1), "{\n  \"exitStatus\": 1,\n  \"entries\": []\n}\n");
}

}  // namespace
}  // namespace tarnflow::cli
