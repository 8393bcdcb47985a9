#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cli/CliOptions.h"
#include "cli/DownloadRun.h"
#include "cli/HeadlessHost.h"
#include "cli/PortSource.h"
#include "phonesim/DeviceLink.h"
#include "phonesim/Phone.h"
#include "platform/Clock.h"
#include "platform/MessageLoop.h"
#include "platform/PortNames.h"
#include "sampleimages/SampleImages.h"

namespace tarnflow::cli {
namespace {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

// Standard error while a test runs, read as it is written: a test waits for the command line to
// say it is waiting before it plugs phones in, so that they arrive during the wait.
class StderrTap {
  public:
    StderrTap() {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) {
            return;
        }
        std::fflush(stderr);
        saved_ = dup(STDERR_FILENO);
        dup2(fds[1], STDERR_FILENO);
        close(fds[1]);
        readFd_ = fds[0];
        reader_ = std::thread([this] { Read(); });
    }
    ~StderrTap() {
        if (readFd_ < 0) {
            return;
        }
        dup2(saved_, STDERR_FILENO);  // drops the pipe's last writer: the reader sees its end
        close(saved_);
        reader_.join();
        close(readFd_);
    }
    StderrTap(const StderrTap&) = delete;
    StderrTap& operator=(const StderrTap&) = delete;

    bool Open() const { return readFd_ >= 0; }

    bool WaitFor(const std::string& text) {
        std::unique_lock lock(mutex_);
        return grown_.wait_for(lock, std::chrono::seconds(60),
                               [&] { return text_.find(text) != std::string::npos; });
    }
    // All written so far: a mark written now comes through the pipe after it.
    std::string Text() {
        const std::string mark = "<mark " + std::to_string(++marks_) + ">";
        if (write(STDERR_FILENO, mark.data(), mark.size()) != static_cast<ssize_t>(mark.size()) ||
            !WaitFor(mark)) {
            return "(standard error not read: " + Unmarked(mark) + ")";
        }
        return Unmarked(mark);
    }

  private:
    void Read() {
        char buffer[4096];
        for (;;) {
            const ssize_t n = read(readFd_, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return;
            }
            std::lock_guard lock(mutex_);
            text_.append(buffer, static_cast<size_t>(n));
            grown_.notify_all();
        }
    }

    std::string Unmarked(const std::string& mark) {
        std::lock_guard lock(mutex_);
        const auto at = text_.find(mark);
        if (at != std::string::npos) {
            text_.erase(at, mark.size());
        }
        return text_;
    }

    int marks_ = 0;
    int saved_ = -1;
    int readFd_ = -1;
    std::thread reader_;
    mutable std::mutex mutex_;
    std::condition_variable grown_;
    std::string text_;
};

// Ports found through a device-map folder: Port Search over its tagged links, or links there
// and appearing while the command line waits for them.
class CliPorts : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(errors_.Open());
        // Every test's nodes are new: the COM numbers must not run out over a whole run.
        PortNames::ResetForTesting();
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
    static phonesim::PhoneOptions LinkedAs(const std::string& link) {
        phonesim::PhoneOptions options;
        options.deviceLink = link;
        return options;
    }
    phonesim::Phone& AddPhone(const std::string& linkName) {
        auto phone = std::make_unique<phonesim::Phone>();
        EXPECT_TRUE(phone->Start(LinkedAs(map_ + "/" + linkName))) << phone->Error();
        phones_.push_back(std::move(phone));
        return *phones_.back();
    }
    // Unplugged and plugged in again: a fresh phone on a newly opened pseudo-terminal, under its
    // old link.
    static void Replug(phonesim::Phone& phone) {
        const std::string link = phone.DeviceLink();
        phone.Stop();
        ASSERT_TRUE(phone.Start(LinkedAs(link))) << phone.Error();
    }
    // A link to a plain file, for tests that never open the port.
    std::string AddLink(const std::string& linkName) {
        const std::string node = folder_ + "/node-" + linkName;
        std::ofstream(node).put('\n');
        fs::create_symlink(node, map_ + "/" + linkName);
        return node;
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
    std::future<int> RunInBackground(const std::vector<std::string>& extra) {
        return std::async(std::launch::async, [this, extra] { return Run(extra); });
    }
    void ExpectImageIn(const phonesim::Phone& phone) {
        EXPECT_EQ(phone.ReadFlash(0, image_.size()), image_) << phone.DeviceLink();
    }

    StderrTap errors_;
    std::string folder_, map_, path_, output_;
    Bytes image_;
    std::vector<std::unique_ptr<phonesim::Phone>> phones_;
};

// The engine as the command line sets it up, for the port assignment alone.
struct CliEngine {
    CliEngine() {
        host.AttachEngine(&engine);
        engine.OnInitDialog();
    }
    std::vector<int> Ports() const {
        std::vector<int> ports;
        for (const auto& e : engine.entries) {
            ports.push_back(e.comPort);
        }
        return ports;
    }

    SteadyClock clock;
    MessageLoop loop{clock};
    HeadlessHost host{loop, QuestionPolicy::No, false};
    CDloadEngine engine{host, clock};
};

TEST_F(CliPorts, SearchTakesTheTaggedDevicesOnly) {
    phonesim::Phone& first = AddPhone("tfusbmd00");
    phonesim::Phone& other = AddPhone("modem-untagged");
    phonesim::Phone& second = AddPhone("tfusbmd01");
    ASSERT_EQ(Run({"--search"}), 0) << output_;
    ExpectImageIn(first);
    ExpectImageIn(second);
    EXPECT_TRUE(other.Requests().empty());
    EXPECT_NE(output_.find("Entry 2: Downloading Completed."), std::string::npos);
    EXPECT_EQ(output_.find("Entry 3:"), std::string::npos);
}

TEST_F(CliPorts, SearchGivesTwentyEntriesInMapOrderAndNamesTheRest) {
    AddLink("a-modem");  // untagged, first in the map's order
    std::vector<std::string> nodes;
    for (unsigned i = 0; i < 21; ++i) {
        nodes.push_back(AddLink(phonesim::DeviceLinkName(i)));
    }
    CliEngine cli;
    PortAssignment assignment;
    const auto parsed = ParseOptions({"--code", path_, "--search"});
    ASSERT_TRUE(parsed.ok) << parsed.error;
    ASSERT_TRUE(AssignPorts(parsed.options, cli.engine, assignment, [] { return false; }));

    const auto ports = cli.Ports();
    ASSERT_EQ(assignment.devices.size(), 20u);
    for (unsigned i = 0; i < 20; ++i) {
        ASSERT_EQ(assignment.devices.count(ports[i]), 1u) << "entry " << i + 1;
        EXPECT_EQ(assignment.devices[ports[i]].deviceName, phonesim::DeviceLinkName(i));
        EXPECT_EQ(assignment.devices[ports[i]].node, nodes[i]);
    }
    const std::string errors = errors_.Text();
    EXPECT_NE(errors.find("left out: tfusbmd20 (" + nodes[20] + ")\n"), std::string::npos)
        << errors;
    EXPECT_EQ(errors.find("a-modem"), std::string::npos) << errors;
}

TEST_F(CliPorts, WaitPortsTakesThePortsThatArrive) {
    auto run = RunInBackground({"--wait-ports", "2"});
    ASSERT_TRUE(errors_.WaitFor("Waiting for 2 phone(s), 0 present")) << errors_.Text();
    AddPhone("tfusbmd00");
    AddPhone("tfusbmd01");
    ASSERT_EQ(run.get(), 0) << output_ << errors_.Text();
    for (const auto& phone : phones_) {
        ExpectImageIn(*phone);
    }
}

// Phones plugged in before the start count; one that leaves gives its entry back, and one that
// leaves and comes back is one phone, on its new port.
TEST_F(CliPorts, WaitPortsCountsEachPhonePresentOnce) {
    phonesim::Phone& returning = AddPhone("tfusbmd00");
    phonesim::Phone& leaving = AddPhone("tfusbmd01");
    auto run = RunInBackground({"--wait-ports", "3"});
    ASSERT_TRUE(errors_.WaitFor("Waiting for 3 phone(s), 2 present")) << errors_.Text();
    // Its phone keeps its port open: a download that wrongly kept the entry would reach it.
    fs::remove(leaving.DeviceLink());
    Replug(returning);
    phonesim::Phone& second = AddPhone("tfusbmd02");
    phonesim::Phone& third = AddPhone("tfusbmd03");

    ASSERT_EQ(run.get(), 0) << output_ << errors_.Text();
    ExpectImageIn(returning);
    ExpectImageIn(second);
    ExpectImageIn(third);
    EXPECT_TRUE(leaving.Requests().empty());
    EXPECT_EQ(output_.find("Entry 4:"), std::string::npos) << output_;
}

TEST_F(CliPorts, WaitPortsIgnoresUntaggedLinks) {
    phonesim::Phone& present = AddPhone("modem-untagged");
    auto run = RunInBackground({"--wait-ports", "1"});
    ASSERT_TRUE(errors_.WaitFor("Waiting for 1 phone(s), 0 present")) << errors_.Text();
    phonesim::Phone& arriving = AddPhone("modem-second");
    phonesim::Phone& tagged = AddPhone("tfusbmd00");

    ASSERT_EQ(run.get(), 0) << output_ << errors_.Text();
    ExpectImageIn(tagged);
    EXPECT_TRUE(present.Requests().empty());
    EXPECT_TRUE(arriving.Requests().empty());
}

TEST_F(CliPorts, WaitPortsShortfallDownloadsThePhonesPresentAndFails) {
    AddPhone("tfusbmd00");
    AddPhone("tfusbmd01");
    EXPECT_EQ(Run({"--wait-ports", "3", "--wait-seconds", "1"}), 1);
    for (const auto& phone : phones_) {
        ExpectImageIn(*phone);
    }
    const std::string errors = errors_.Text();
    EXPECT_NE(errors.find("Only 2 of 3 phones arrived within 1 s.\n"), std::string::npos) << errors;
}

TEST_F(CliPorts, WaitPortsTakesNoMorePhonesThanAskedFor) {
    phonesim::Phone& first = AddPhone("tfusbmd00");
    phonesim::Phone& second = AddPhone("tfusbmd01");
    ASSERT_EQ(Run({"--wait-ports", "1"}), 0) << output_ << errors_.Text();
    ExpectImageIn(first);
    EXPECT_TRUE(second.Requests().empty());
}

// A port that leaves during the wait is no longer an entry's nor in the assignment; a stop ends
// the wait with what is present.
TEST_F(CliPorts, WaitPortsKeepsTheAssignmentRightAndEndsOnStop) {
    AddLink("tfusbmd00");
    AddLink("tfusbmd01");
    const std::string moved = folder_ + "/node-moved";
    std::ofstream(moved).put('\n');
    CliEngine cli;
    PortAssignment assignment;
    const auto parsed =
        ParseOptions({"--code", path_, "--wait-ports", "3", "--wait-seconds", "30"});
    ASSERT_TRUE(parsed.ok) << parsed.error;
    int polls = 0;
    const auto unplugThenStop = [&] {
        if (polls++ == 0) {
            fs::remove(map_ + "/tfusbmd01");
            fs::remove(map_ + "/tfusbmd00");
            fs::create_symlink(moved, map_ + "/tfusbmd00");
        }
        return polls > 1;
    };
    ASSERT_TRUE(AssignPorts(parsed.options, cli.engine, assignment, unplugThenStop));

    const int port = PortNames::NumberFor(moved);
    ASSERT_EQ(assignment.devices.size(), 1u);
    ASSERT_EQ(assignment.devices.count(port), 1u);
    EXPECT_EQ(assignment.devices[port].deviceName, "tfusbmd00");
    const auto ports = cli.Ports();
    EXPECT_EQ(std::count(ports.begin(), ports.end(), port), 1);
    EXPECT_EQ(std::count(ports.begin(), ports.end(), 0), kEntryCount - 1);
    EXPECT_EQ(assignment.shortfall, "Only 1 of 3 phones arrived before the wait was stopped.");
}

TEST_F(CliPorts, NoPortArrivingEndsTheWait) {
    EXPECT_EQ(Run({"--wait-ports", "1", "--wait-seconds", "1"}), 1);
    const std::string errors = errors_.Text();
    EXPECT_NE(errors.find("No Phone is connected."), std::string::npos) << errors;
}

}  // namespace
}  // namespace tarnflow::cli
