#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "ToolPort.h"

extern char** environ;

namespace tarnflow::phonesim::testing {
namespace {

namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;

// The program is built next to this test binary.
std::string ProgramPath() {
    return (fs::read_symlink("/proc/self/exe").parent_path() / "tarnflow-phonesim").string();
}

class Program {
  public:
    explicit Program(std::vector<std::string> args) {
        args.insert(args.begin(), ProgramPath());
        int out[2];
        int err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        std::vector<char*> argv;
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }

    ~Program() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        for (const int fd : {out_, err_}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }

    bool Started() const { return pid_ > 0; }

    // Reads standard output until it holds `lines` lines or the end.
    std::string ReadLines(size_t lines) {
        const auto deadline = SteadyClock::now() + kSafetyLimit;
        while (std::count(stdout_.begin(), stdout_.end(), '\n') < static_cast<long>(lines) &&
               ReadMore(out_, stdout_, deadline)) {
        }
        return stdout_;
    }

    void Signal(int signal) { ::kill(pid_, signal); }

    // Exit status, or -1 when it did not end in time (it is killed then).
    int Wait() {
        const auto deadline = SteadyClock::now() + kSafetyLimit;
        while (ReadMore(out_, stdout_, deadline)) {
        }
        while (ReadMore(err_, stderr_, deadline)) {
        }
        int status = 0;
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            if (SteadyClock::now() > deadline) {
                return -1;
            }
            ::usleep(1000);
        }
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    const std::string& Out() const { return stdout_; }
    const std::string& Err() const { return stderr_; }

  private:
    static bool ReadMore(int fd, std::string& into, SteadyClock::time_point deadline) {
        pollfd pfd{fd, POLLIN, 0};
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
        if (::poll(&pfd, 1, static_cast<int>(std::max<int64_t>(left, 0))) <= 0) {
            return false;
        }
        char chunk[4096];
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n <= 0) {
            return false;
        }
        into.append(chunk, static_cast<size_t>(n));
        return true;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::string stdout_;
    std::string stderr_;
};

class TempDir {
  public:
    TempDir() {
        char pattern[] = "/tmp/phonesim-program-XXXXXX";
        if (const char* dir = ::mkdtemp(pattern)) {
            path_ = dir;
        }
    }
    ~TempDir() {
        if (!path_.empty()) {
            fs::remove_all(path_);
        }
    }
    const fs::path& Path() const { return path_; }

  private:
    fs::path path_;
};

Bytes ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(PhonesimProgram, HelpListsEveryOption) {
    Program program({"--help"});
    ASSERT_TRUE(program.Started()) << ProgramPath();
    EXPECT_EQ(program.Wait(), 0);
    for (const char* option : {"--phones",
                               "--device-map",
                               "--baud",
                               "--flash-out",
                               "--fault",
                               "--help",
                               "silent-request",
                               "silent-block",
                               "lose-block-answer",
                               "damage-request-answer",
                               "damage-block-answer",
                               "nak-resend",
                               "nak-model",
                               "nak-invalid",
                               "nak-failed",
                               "slow-erase",
                               "unplug-block",
                               "raw-xonxoff",
                               "xoff-during-erase",
                               "xoff-hold",
                               "phoneNN-flash-0x",
                               "phoneNN-area"}) {
        EXPECT_NE(program.Out().find(option), std::string::npos) << option;
    }
}

TEST(PhonesimProgram, BadOptionsExitWithStatusTwo) {
    TempDir dir;
    const std::string map = (dir.Path() / "map").string();
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"--phones", "2"},
        {"--device-map", map},
        {"--phones", "0", "--device-map", map},
        {"--phones", "two", "--device-map", map},
        {"--phones", "1", "--device-map", map, "--bogus"},
        {"--phones", "1", "--device-map", map, "--baud"},
        {"--phones", "1", "--device-map", map, "--fault", "1:raw-xonxoff"},
        {"--phones", "1", "--device-map", map, "--fault", "0:slow-erase:soon"},
        {"--phones", "1", "--device-map", map, "--fault", "0:nak-resend:page:3"},
        {"--phones", "1", "--device-map", map, "--fault", "0:nak-model:block:3:damaged"},
        {"--phones", "1", "--device-map", map, "--fault", "0:no-such-fault"},
    };
    for (const auto& args : cases) {
        Program program(args);
        ASSERT_TRUE(program.Started());
        EXPECT_EQ(program.Wait(), 2) << ::testing::PrintToString(args);
        EXPECT_FALSE(program.Err().empty()) << ::testing::PrintToString(args);
    }
    EXPECT_FALSE(fs::exists(map));
}

TEST(PhonesimProgram, RunsPhonesUntilSigtermThenCleansUpAndWritesFlash) {
    TempDir dir;
    ASSERT_FALSE(dir.Path().empty());
    const fs::path map = dir.Path() / "map";
    const fs::path out = dir.Path() / "out";
    fs::create_directories(map);
    fs::create_symlink("/nonexistent-stale-device", map / "tfusbmd00");

    Program program({"--phones", "2", "--device-map", map.string(), "--flash-out", out.string(),
                     "--fault", "0:slow-erase:10"});
    ASSERT_TRUE(program.Started());
    const std::string lines = program.ReadLines(2);
    for (const char* name : {"tfusbmd00", "tfusbmd01"}) {
        const fs::path link = map / name;
        ASSERT_TRUE(fs::is_symlink(link)) << name << "\n" << lines;
        const std::string target = fs::read_symlink(link).string();
        EXPECT_EQ(target.rfind("/dev/pts/", 0), 0u) << target;
        EXPECT_NE(lines.find(": " + target + " -> " + link.string() + "\n"), std::string::npos)
            << lines;
    }
    EXPECT_EQ(lines.find("phone 0: "), 0u) << lines;
    EXPECT_NE(lines.find("\nphone 1: "), std::string::npos) << lines;

    const Bytes block = MakeBlock(60);
    {
        ToolPort tool((map / "tfusbmd01").string());
        ASSERT_TRUE(tool.Valid());
        EXPECT_EQ(tool.Exchange({0xA0}), kRequestAck);
        EXPECT_EQ(tool.Exchange(EraseRequest(0xEE, 0x4000, kBlock)), kRequestAck);
        EXPECT_EQ(tool.ExchangeBlock(block), AckFor(block));
        EXPECT_EQ(tool.Exchange(EraseRequest(0xEF, 2, kBlock)), kRequestAck);
        EXPECT_EQ(tool.ExchangeBlock(block), AckFor(block));
    }

    program.Signal(SIGTERM);
    EXPECT_EQ(program.Wait(), 0) << program.Err();
    EXPECT_FALSE(fs::exists(fs::symlink_status(map / "tfusbmd00")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(map / "tfusbmd01")));
    EXPECT_EQ(ReadFile(out / "phone01-flash-0x00004000.bin"), block);
    EXPECT_EQ(ReadFile(out / "phone01-area2.bin"), block);
    size_t files = 0;
    for (const auto& entry : fs::directory_iterator(out)) {
        EXPECT_EQ(entry.path().filename().string().rfind("phone01-", 0), 0u) << entry.path();
        ++files;
    }
    EXPECT_EQ(files, 2u);
}

}  // namespace
}  // namespace tarnflow::phonesim::testing
