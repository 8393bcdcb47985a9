#include <gtest/gtest.h>

#include <functional>

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
        {"--code", "a.bin", "--port", "/dev/x", "/dev/y"},  // one path per --port
    };
    for (const auto& args : bad) {
        const auto parsed = ParseOptions(args);
        EXPECT_FALSE(parsed.ok) << args.back();
        EXPECT_FALSE(parsed.error.empty());
    }
}

TEST(CliOptions, ValueJoinedWithEqualsMeansTheSame) {
    using Read = std::function<std::string(const CliOptions&)>;
    auto image = [](int kind) -> Read {
        return [kind](const CliOptions& o) {
            return o.selection.check[kind] ? o.selection.imagePath[kind] : "(not chosen)";
        };
    };
    struct Row {
        std::string option;
        std::string value;
        Read read;
        Args rest;  // what else the run needs to be accepted
    };
    const Args search = {"--search"};
    const Row rows[] = {
        {"--code", "a.bin", image(KIND_CODE_NEW), search},
        {"--old", "o.bin", image(KIND_CODE_OLD), search},
        {"--font", "f.bin", image(KIND_FONT), search},
        {"--vpx-boot", "b.bin", image(KIND_VPX_BOOT), search},
        {"--vpx-code", "c.bin", image(KIND_VPX_CODE), search},
        {"--vpx-font", "f.bin", image(KIND_VPX_FONT), search},
        {"--vpx-contents", "c.rbin", image(KIND_VPX_CONTENTS), search},
        {"--vpx-lfs", "l.lfs", image(KIND_VPX_LFS), search},
        {"--vpx-factoryfs", "f.ffs", image(KIND_VPX_FACTORYFS), search},
        {"--font-address",
         "1F0",
         [](const CliOptions& o) { return o.selection.m_strFontAddress; },
         {"--font", "f.bin", "--search"}},
        {"--type", "compare",
         [](const CliOptions& o) { return std::to_string(o.selection.m_nDloadType); }, search},
        {"--port",
         "/dev/pts/4",
         [](const CliOptions& o) { return o.ports.empty() ? "" : o.ports.front(); },
         {}},
        {"--wait-ports", "3", [](const CliOptions& o) { return std::to_string(o.waitPorts); }, {}},
        {"--wait-seconds", "90", [](const CliOptions& o) { return std::to_string(o.waitSeconds); },
         search},
        {"--json", "r=1.json", [](const CliOptions& o) { return o.jsonPath; }, search},
    };
    for (const auto& row : rows) {
        Args spaced = {row.option, row.value};
        Args joined = {row.option + "=" + row.value};
        spaced.insert(spaced.end(), row.rest.begin(), row.rest.end());
        joined.insert(joined.end(), row.rest.begin(), row.rest.end());
        const auto a = ParseOptions(spaced);
        const auto b = ParseOptions(joined);
        ASSERT_TRUE(a.ok) << row.option << ": " << a.error;
        ASSERT_TRUE(b.ok) << row.option << ": " << b.error;
        EXPECT_EQ(row.read(a.options), row.read(b.options)) << row.option;
        EXPECT_NE(row.read(a.options), row.read(CliOptions{})) << row.option << " had no effect";
    }
}

TEST(CliOptions, PortsKeepTheirOrderWhicheverFormGivesThem) {
    const auto parsed =
        ParseOptions({"--code", "a.bin", "--port=/dev/a", "--port", "/dev/b", "--port=/dev/c"});
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_EQ(parsed.options.ports, (Args{"/dev/a", "/dev/b", "/dev/c"}));
}

TEST(CliOptions, MissingOrEmptyValueIsRefusedWithTheOptionsMessage) {
    struct Row {
        Args args;
        std::string error;
    };
    const Row rows[] = {
        {{"--code", "a.bin", "--port", ""}, "--port needs a device path"},
        {{"--code", "a.bin", "--port="}, "--port needs a device path"},
        {{"--code", "a.bin", "--port=", "/dev/x"}, "--port needs a device path"},
        {{"--code=", "--search"}, "--code needs a file"},
        {{"--search", "--code"}, "--code needs a file"},
        {{"--code", "a.bin", "--search", "--json="}, "--json needs a file"},
        {{"--code", "a.bin", "--search", "--type", ""},
         "--type needs emergency, change or compare"},
        {{"--code", "a.bin", "--wait-ports="}, "--wait-ports needs a count from 1 to 20"},
    };
    for (const auto& row : rows) {
        const auto parsed = ParseOptions(row.args);
        EXPECT_FALSE(parsed.ok) << row.error;
        EXPECT_EQ(parsed.error, row.error);
    }
}

TEST(CliOptions, VersionAndHelpNeedNoRun) {
    const auto version = ParseOptions({"--version"});
    ASSERT_TRUE(version.ok) << version.error;
    EXPECT_TRUE(version.options.version);
    EXPECT_FALSE(version.options.help);
    const auto help = ParseOptions({"-h"});
    ASSERT_TRUE(help.ok) << help.error;
    EXPECT_TRUE(help.options.help);
    EXPECT_FALSE(help.options.version);
    EXPECT_FALSE(ParseOptions({"--version", "--frobnicate"}).ok);
}

TEST(CliOptions, ParserErrorsComeBackAsErrorsNotExceptions) {
    const Args bad[] = {
        {"--code", "a.bin", "--search=no"},
        {"--code", "a.bin", "--search", "--yes=false"},
    };
    for (const auto& args : bad) {
        ParseResult parsed;
        EXPECT_NO_THROW(parsed = ParseOptions(args)) << args.back();
        EXPECT_FALSE(parsed.ok) << args.back();
        EXPECT_FALSE(parsed.error.empty()) << args.back();
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

}  // namespace
}  // namespace tarnflow::cli
