#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "FaultyPhone.h"
#include "cli/CliOptions.h"
#include "cli/DownloadRun.h"
#include "phonesim/Phone.h"
#include "platform/FileDigest.h"
#include "platform/Version.h"
#include "sampleimages/SampleImages.h"

namespace tarnflow::cli {
namespace {

using Bytes = std::vector<uint8_t>;
using nlohmann::json;
namespace fs = std::filesystem;

// The report a run leaves: --json and its history line, from runs against simulated phones.
class CliReport : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/tarnflow-report-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
        history_ = folder_ + "/state/history.jsonl";
        setenv("TARNFLOW_HISTORY", history_.c_str(), 1);
        report_ = folder_ + "/report.json";
    }
    void TearDown() override {
        unsetenv("TARNFLOW_HISTORY");
        phones_.clear();
        fs::remove_all(folder_);
    }

    phonesim::Phone& AddPhone(const std::string& fault = "") {
        phones_.push_back(StartFaultyPhone(fault));
        return *phones_.back();
    }

    int Run(std::vector<std::string> args) {
        for (const auto& phone : phones_) {
            args.insert(args.end(), {"--port", phone->SlavePath()});
        }
        args.insert(args.end(), {"--no", "--json", report_});
        const auto parsed = ParseOptions(args);
        EXPECT_TRUE(parsed.ok) << parsed.error;
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        const int status = RunDownload(parsed.options);
        output_ = ::testing::internal::GetCapturedStdout();
        errors_ = ::testing::internal::GetCapturedStderr();
        return status;
    }

    static std::string Read(const std::string& path) {
        std::ifstream file(path, std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }
    json Report() const { return json::parse(Read(report_)); }
    std::vector<json> History() const {
        std::vector<json> lines;
        std::istringstream text(Read(history_));
        for (std::string line; std::getline(text, line);) {
            lines.push_back(json::parse(line));
        }
        return lines;
    }

    std::string folder_;
    std::string history_;
    std::string report_;
    std::vector<std::unique_ptr<phonesim::Phone>> phones_;
    std::string output_;
    std::string errors_;
};

// "2026-12-11T10:38:31Z": digits where the pattern has 9, the rest as written.
bool IsIsoUtcTime(const json& value) {
    const std::string pattern = "9999-99-99T99:99:99Z";
    const std::string text = value.get<std::string>();
    if (text.size() != pattern.size()) {
        return false;
    }
    for (size_t k = 0; k < text.size(); ++k) {
        const bool digit = text[k] >= '0' && text[k] <= '9';
        if (pattern[k] == '9' ? !digit : text[k] != pattern[k]) {
            return false;
        }
    }
    return true;
}

bool HasLogText(const json& entry, int type, const std::string& text) {
    for (const auto& item : entry["log"]) {
        if (item[0] == type && item[1] == text) {
            return true;
        }
    }
    return false;
}

TEST_F(CliReport, MixedRunTracesEveryPhone) {
    AddPhone();
    AddPhone("nak-invalid:request:2");  // refuses the erase
    const Bytes image = sample::PhoneCodeImage(0x4000, 0, 5);
    const std::string path = folder_ + "/code \xff.bin";  // not UTF-8: the report stays valid
    ASSERT_TRUE(sample::WriteFile(path, image));
    ASSERT_EQ(Run({"--code", path}), 1) << output_ << errors_;

    const json report = Report();
    EXPECT_EQ(report["schemaVersion"], 1);
    EXPECT_EQ(report["tool"]["name"], "tarnflow-cli");
    EXPECT_EQ(report["tool"]["version"], kTarnflowVersion);
    EXPECT_FALSE(report["host"].get<std::string>().empty());
    EXPECT_TRUE(IsIsoUtcTime(report["startTime"])) << report["startTime"];
    EXPECT_TRUE(IsIsoUtcTime(report["endTime"])) << report["endTime"];
    EXPECT_LE(report["startTime"], report["endTime"]);
    EXPECT_EQ(report["downloadType"], "emergency");
    EXPECT_EQ(report["exitStatus"], 1);

    ASSERT_EQ(report["images"].size(), 1u);
    const json& img = report["images"][0];
    EXPECT_EQ(img["kind"], "code");
    EXPECT_EQ(img["path"], folder_ + "/code \xef\xbf\xbd.bin");
    EXPECT_EQ(img["size"], image.size());
    EXPECT_EQ(img["sha256"], Sha256Hex(image.data(), image.size()));

    ASSERT_EQ(report["entries"].size(), 2u);
    const json& good = report["entries"][0];
    EXPECT_EQ(good["entry"], 1);
    EXPECT_EQ(good["device"], phones_[0]->SlavePath());
    EXPECT_GE(good["com"], 1);
    EXPECT_TRUE(good["socket"].is_null());
    EXPECT_TRUE(good["usb"].is_null());
    EXPECT_EQ(good["outcome"], "completed");
    EXPECT_EQ(good["reason"], "");
    // Every byte reported written is in the phone's flash from the image's start address.
    const size_t written = good["bytesWritten"].get<size_t>();
    EXPECT_EQ(written, image.size());
    EXPECT_EQ(phones_[0]->ReadFlash(0, written), image);
    EXPECT_TRUE(HasLogText(good, 2, "Downloading Completed.")) << good["log"];

    const json& bad = report["entries"][1];
    EXPECT_EQ(bad["entry"], 2);
    EXPECT_EQ(bad["device"], phones_[1]->SlavePath());
    EXPECT_NE(bad["com"], good["com"]);
    EXPECT_EQ(bad["outcome"], "failed");
    EXPECT_EQ(bad["reason"], "Invalid command!!");
    EXPECT_EQ(bad["bytesWritten"], 0);
    EXPECT_TRUE(HasLogText(bad, 3, "Invalid command!!")) << bad["log"];
    EXPECT_EQ(phones_[1]->ReadFlash(0, 0x1000), Bytes(0x1000, 0xFF));

    // The history holds the same report on one line.
    const auto history = History();
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history[0], report);
}

TEST_F(CliReport, RefusedRunsReplaceAnEarlierReport) {
    std::ofstream(report_) << "an earlier run's report";
    const std::string path = folder_ + "/code.bin";
    ASSERT_TRUE(sample::WriteFile(path, sample::PhoneCodeImage(0x4000, 0, 6)));

    // No phone at all: the download is refused.
    setenv("TARNFLOW_DEVICE_MAP", folder_.c_str(), 1);
    EXPECT_EQ(Run({"--code", path, "--search"}), 1);
    unsetenv("TARNFLOW_DEVICE_MAP");
    EXPECT_NE(errors_.find("No Phone is connected."), std::string::npos) << errors_;
    json report = Report();
    EXPECT_EQ(report["exitStatus"], 1);
    EXPECT_TRUE(report["entries"].empty());
    EXPECT_EQ(report["images"][0]["sha256"].get<std::string>().size(), 64u);

    // An image the loader refuses (a start address answered No): the phone took part and
    // failed for the loader's question, and nothing was sent to it.
    auto& phone = AddPhone();
    const std::string odd = folder_ + "/odd.bin";
    ASSERT_TRUE(sample::WriteFile(odd, sample::PhoneCodeImage(0x8000, 0x2000, 41)));
    EXPECT_EQ(Run({"--code", odd}), 1);
    report = Report();
    ASSERT_EQ(report["entries"].size(), 1u);
    EXPECT_EQ(report["entries"][0]["outcome"], "failed");
    EXPECT_EQ(report["entries"][0]["reason"], "User Cancel");
    EXPECT_TRUE(phone.Requests().empty());
    EXPECT_EQ(History().size(), 2u);
}

TEST_F(CliReport, FifoImageIsRefusedAtOnce) {
    auto& phone = AddPhone();
    const std::string fifo = folder_ + "/code.bin";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Nobody ever writes the FIFO: a run that opened it to read would never end.
    EXPECT_EQ(Run({"--code", fifo}), 2);
    EXPECT_NE(errors_.find(fifo), std::string::npos) << errors_;
    EXPECT_TRUE(phone.Requests().empty());
    const json report = Report();
    EXPECT_EQ(report["exitStatus"], 2);
    EXPECT_EQ(report["images"][0]["size"], 0);
    EXPECT_TRUE(report["images"][0]["sha256"].is_null());
}

TEST_F(CliReport, UnwritableReportPathIsRefusedBeforeAnyPhone) {
    auto& phone = AddPhone();
    const std::string path = folder_ + "/code.bin";
    ASSERT_TRUE(sample::WriteFile(path, sample::PhoneCodeImage(0x4000, 0, 7)));
    report_ = folder_ + "/no-such-folder/report.json";
    EXPECT_EQ(Run({"--code", path}), 2);
    EXPECT_NE(errors_.find("Cannot write " + report_), std::string::npos) << errors_;
    EXPECT_TRUE(phone.Requests().empty());
    EXPECT_FALSE(fs::exists(report_));
}

}  // namespace
}  // namespace tarnflow::cli
