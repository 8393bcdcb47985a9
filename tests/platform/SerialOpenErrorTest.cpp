// Why an open fails, as the operator will be told it: the reasons the system reports for paths
// that are no serial device, devices that went away and devices without access.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/SerialPort.h"
#include "support/PtyPair.h"

namespace tarnflow {
namespace {

using testing::PtyPair;

// An unprivileged user and group for the access check, which root would pass whatever the mode.
constexpr uid_t kNobody = 65534;

class SerialOpenError : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/serialopen-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::string dir;
};

TEST_F(SerialOpenError, PathsThatAreNoSerialDevice) {
    const std::string file = dir + "/plain";
    std::ofstream(file) << "plain file";
    const std::string fifo = dir + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    struct Case {
        std::string path;
        SerialError error;
    };
    const Case cases[] = {
        {dir, SerialError::NotATty},
        {fifo, SerialError::NotATty},
        {file + "/ttyACM0", SerialError::NotFound},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        SerialPort port;
        EXPECT_FALSE(port.Open(c.path));
        EXPECT_EQ(port.LastError(), c.error) << SerialErrorText(port.LastError());
        EXPECT_FALSE(port.IsOpen());
    }
}

TEST_F(SerialOpenError, TerminalWhoseOtherEndIsGoneIsNotFound) {
    PtyPair pty;
    ASSERT_TRUE(pty.Valid()) << pty.Error();
    // The slave's node goes with the master; a descriptor kept open still reaches the device.
    const int kept = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(kept, 0);
    pty.CloseMaster();

    SerialPort port;
    EXPECT_FALSE(port.Open("/proc/self/fd/" + std::to_string(kept)));
    EXPECT_EQ(port.LastError(), SerialError::NotFound) << SerialErrorText(port.LastError());
    ::close(kept);
}

// Opens `path` as an unprivileged user in a child process; its exit status is 0 for a
// permission error, 1 when it opened, 2 for another error, 3 when it could not drop root.
int OpenAsNobody(const std::string& path) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setresgid(kNobody, kNobody, kNobody) != 0 ||
            ::setresuid(kNobody, kNobody, kNobody) != 0) {
            ::_exit(3);
        }
        SerialPort port;
        const bool opened = port.Open(path);
        ::_exit(opened ? 1 : port.LastError() == SerialError::Permission ? 0 : 2);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

TEST_F(SerialOpenError, DeviceWithoutAccessIsAPermissionError) {
    PtyPair pty;
    ASSERT_TRUE(pty.Valid()) << pty.Error();
    ASSERT_EQ(::chmod(pty.SlavePath().c_str(), 0), 0);
    if (::geteuid() != 0) {
        SerialPort port;
        EXPECT_FALSE(port.Open(pty.SlavePath()));
        EXPECT_EQ(port.LastError(), SerialError::Permission) << SerialErrorText(port.LastError());
        return;
    }
    const int result = OpenAsNobody(pty.SlavePath());
    if (result == 3) {
        GTEST_SKIP() << "root cannot become an unprivileged user here";
    }
    EXPECT_EQ(result, 0);
}

}  // namespace
}  // namespace tarnflow
