#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "FaultyPhone.h"
#include "phonesim/Phone.h"
#include "sampleimages/SampleImages.h"
#include "support/WaitUntil.h"

extern char** environ;

namespace tarnflow::cli {
namespace {

using Bytes = std::vector<uint8_t>;
using nlohmann::json;
using tarnflow::testing::WaitUntil;
namespace fs = std::filesystem;
using std::chrono::seconds;

// The command-line program run as a process of its own against simulated phones, for what only
// a process shows: its exit status after a signal, a closed standard output, a terminal.
class CliProcess : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/tarnflow-process-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
        report_ = folder_ + "/report.json";
        setenv("TARNFLOW_HISTORY", "", 1);
    }
    void TearDown() override {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        phones_.clear();
        fs::remove_all(folder_);
    }

    phonesim::Phone& AddPhone(uint32_t baud, const std::string& fault = "") {
        phones_.push_back(StartFaultyPhone(fault, baud));
        return *phones_.back();
    }

    std::string Image(size_t size) {
        const std::string path = folder_ + "/code.bin";
        image_ = sample::PhoneCodeImage(size, 0, 9);
        EXPECT_TRUE(sample::WriteFile(path, image_));
        return path;
    }

    // Starts the program with the phones' ports and the report; its standard input, output and
    // error are the given descriptors (-1: /dev/null, or a file in the folder for errors).
    void Start(std::vector<std::string> args, int in = -1, int out = -1) {
        args.insert(args.begin(), TARNFLOW_CLI);
        for (const auto& phone : phones_) {
            args.insert(args.end(), {"--port", phone->SlavePath()});
        }
        args.insert(args.end(), {"--json", report_});
        const int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
        const int errors =
            open((folder_ + "/stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in >= 0 ? in : devNull, 0);
        posix_spawn_file_actions_adddup2(&actions, out >= 0 ? out : devNull, 1);
        posix_spawn_file_actions_adddup2(&actions, errors, 2);
        std::vector<char*> argv;
        for (auto& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        ASSERT_EQ(posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        close(devNull);
        close(errors);
    }

    // The exit status, or -1 when the program did not exit by itself within the limit.
    int Wait() {
        int status = 0;
        const bool ended = WaitUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; },
                                     std::chrono::seconds(60));
        if (!ended) {
            return -1;
        }
        pid_ = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string Errors() const {
        std::ifstream file(folder_ + "/stderr");
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }
    json Report() const {
        std::ifstream file(report_);
        return json::parse(file);
    }

    std::string folder_;
    std::string report_;
    Bytes image_;
    pid_t pid_ = 0;
    std::vector<std::unique_ptr<phonesim::Phone>> phones_;
};

TEST_F(CliProcess, InterruptStopsTheDownloadAndReportsIt) {
    // Paced at the line rate, 64 blocks take seconds: the signal comes in the middle.
    auto& phone = AddPhone(57600);
    Start({"--code", Image(64 * 1024), "--no"});
    ASSERT_TRUE(WaitUntil([&] { return phone.Stats().blocksReceived >= 2; }, seconds(60)));
    kill(pid_, SIGINT);
    ASSERT_EQ(Wait(), 130) << Errors();

    const json report = Report();
    EXPECT_EQ(report["exitStatus"], 130);
    ASSERT_EQ(report["entries"].size(), 1u);
    EXPECT_EQ(report["entries"][0]["outcome"], "interrupted");
    EXPECT_EQ(report["entries"][0]["reason"], "Interrupted by SIGINT.");
    EXPECT_NE(Errors().find("Interrupted by SIGINT."), std::string::npos);
    // Nothing more went out: the port was closed with the image unfinished and no final jump.
    const auto received = phone.Stats().blocksReceived;
    EXPECT_LT(received, 64u);
    EXPECT_FALSE(phone.Stats().finalJump);
    EXPECT_LE(report["entries"][0]["bytesWritten"].get<uint64_t>(), received * 1024u);
}

TEST_F(CliProcess, ClosedStandardOutputDoesNotStopTheDownload) {
    auto& first = AddPhone(57600);
    auto& second = AddPhone(57600);
    int pipeFds[2];
    ASSERT_EQ(pipe2(pipeFds, O_CLOEXEC), 0);
    Start({"--code", Image(16 * 1024), "--no"}, -1, pipeFds[1]);
    close(pipeFds[1]);
    // The reader goes away as soon as the first line came, as `| head -1` does.
    char c = 0;
    while (read(pipeFds[0], &c, 1) == 1 && c != '\n') {
    }
    close(pipeFds[0]);
    ASSERT_EQ(Wait(), 0) << Errors();
    const Bytes code(image_.begin(), image_.end());
    EXPECT_EQ(first.ReadFlash(0, code.size()), code);
    EXPECT_EQ(second.ReadFlash(0, code.size()), code);
    EXPECT_EQ(Report()["exitStatus"], 0);
}

TEST_F(CliProcess, UnansweredQuestionKeepsTheOthersGoingUntilTerminated) {
    // The first phone answers one block with a model mismatch: the question waits on the
    // terminal while the second phone goes on to the end of its image.
    auto& asking = AddPhone(0, "nak-model:block:3");
    auto& other = AddPhone(0);
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const int terminal = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(terminal, 0);
    Start({"--code", Image(16 * 1024)}, terminal);
    close(terminal);

    ASSERT_TRUE(WaitUntil([&] { return other.Stats().blocksReceived == 16; }, seconds(60)));
    ASSERT_TRUE(
        WaitUntil([&] { return Errors().find("[y/n]? ") != std::string::npos; }, seconds(60)));
    EXPECT_NE(Errors().find("모델 버전이 틀립니다. 계속 할까요?"), std::string::npos);
    EXPECT_EQ(other.ReadFlash(0, image_.size()), image_);
    kill(pid_, SIGTERM);
    EXPECT_EQ(Wait(), 143) << Errors();
    close(master);

    const json report = Report();
    ASSERT_EQ(report["entries"].size(), 2u);
    EXPECT_EQ(report["entries"][0]["outcome"], "interrupted");
    EXPECT_EQ(report["entries"][1]["outcome"], "interrupted");  // still waiting for the first
    EXPECT_LT(asking.Stats().blocksReceived, 16u);
}

}  // namespace
}  // namespace tarnflow::cli
