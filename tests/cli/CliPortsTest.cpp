#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cli/CliOptions.h"
#include "cli/DownloadRun.h"
#include "phonesim/DeviceLink.h"
#include "phonesim/Phone.h"
#include "sampleimages/SampleImages.h"

namespace tarnflow::cli {
namespace {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

// Ports found through a device-map folder: Port Search over its tagged links, or links that
// appear while the command line waits for them.
class CliPorts : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/tarnflow-ports-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
        map_ = folder_ + "/map";
        fs::create_directory(map_);
        setenv("TARNFLOW_DEVICE_MAP", map_.c_str(), 1);
        image_ = sample::PhoneCodeImage(8 * 1024, 0, 3);
        path_ = folder_ + "/code.bin";
        ASSERT_TRUE(sample::WriteFile(path_, image_));
    }
    void TearDown() override {
        unsetenv("TARNFLOW_DEVICE_MAP");
        phones_.clear();
        fs::remove_all(folder_);
    }
    phonesim::Phone& AddPhone(const std::string& linkName) {
        auto phone = std::make_unique<phonesim::Phone>();
        phonesim::PhoneOptions options;
        options.deviceLink = map_ + "/" + linkName;
        EXPECT_TRUE(phone->Start(options)) << phone->Error();
        phones_.push_back(std::move(phone));
        return *phones_.back();
    }
    int Run(const std::vector<std::string>& extra) {
        std::vector<std::string> args = {"--code", path_, "--no"};
        args.insert(args.end(), extra.begin(), extra.end());
        const auto parsed = ParseOptions(args);
        EXPECT_TRUE(parsed.ok) << parsed.error;
        ::testing::internal::CaptureStdout();
        const int status = RunDownload(parsed.options);
        output_ = ::testing::internal::GetCapturedStdout();
        return status;
    }

    std::string folder_, map_, path_, output_;
    Bytes image_;
    std::vector<std::unique_ptr<phonesim::Phone>> phones_;
};

TEST_F(CliPorts, SearchTakesTheTaggedDevicesOnly) {
    phonesim::Phone& first = AddPhone("tfusbmd00");
    phonesim::Phone& other = AddPhone("modem-untagged");
    phonesim::Phone& second = AddPhone("tfusbmd01");
    ASSERT_EQ(Run({"--search"}), 0) << output_;
    EXPECT_EQ(first.ReadFlash(0, image_.size()), image_);
    EXPECT_EQ(second.ReadFlash(0, image_.size()), image_);
    EXPECT_TRUE(other.Requests().empty());
    EXPECT_NE(output_.find("Entry 2: Downloading Completed."), std::string::npos);
    EXPECT_EQ(output_.find("Entry 3:"), std::string::npos);
}

TEST_F(CliPorts, WaitPortsTakesThePortsThatArrive) {
    auto run = std::async(std::launch::async, [&] { return Run({"--wait-ports", "2"}); });
    // Links that exist before the watch starts are not arrivals; give the command line time
    // to start watching (the wait itself is bounded by --wait-seconds).
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    while (run.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready &&
           phones_.size() < 2) {
        AddPhone(phonesim::DeviceLinkName(static_cast<unsigned>(phones_.size())));
    }
    ASSERT_EQ(run.get(), 0) << output_;
    for (const auto& phone : phones_) {
        EXPECT_EQ(phone->ReadFlash(0, image_.size()), image_);
    }
}

TEST_F(CliPorts, NoPortArrivingEndsTheWait) {
    EXPECT_EQ(Run({"--wait-ports", "1", "--wait-seconds", "1"}), 1);
}

}  // namespace
}  // namespace tarnflow::cli
