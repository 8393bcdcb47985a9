#include "platform/SerialPort.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <future>
#include <optional>
#include <thread>
#include <vector>

#include "support/PtyPair.h"
#include "support/WaitUntil.h"

namespace tarnflow {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::PtyPair;
using namespace std::chrono_literals;
using testing::WaitUntil;

// Real-time safety net against hangs; nothing is measured against it.
constexpr auto kLimit = 5s;

// True once thread `tid` of this process sleeps in poll, as the kernel reports it.
bool BlockedInPoll(pid_t tid) {
    std::ifstream file("/proc/self/task/" + std::to_string(tid) + "/syscall");
    long number = -1;
    if (!(file >> number)) {
        return false;
    }
#ifdef SYS_poll
    if (number == SYS_poll) {
        return true;
    }
#endif
    return number == SYS_ppoll;
}

pid_t ThisThread() {
    return static_cast<pid_t>(::syscall(SYS_gettid));
}

size_t OpenDescriptors() {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

// Every byte value except the two the tty takes as flow control, starting with the ones a
// cooked line would translate or drop.
Bytes Pattern(size_t count) {
    Bytes bytes{0x0D, 0x0A, 0x00, 0xFF, 0x7E, 0x7D, 0x03, 0x1A, 0x7F};
    for (unsigned value = 0; bytes.size() < count; value = (value + 1) % 256) {
        if (value != 0x11 && value != 0x13) {
            bytes.push_back(static_cast<uint8_t>(value));
        }
    }
    bytes.resize(count);
    return bytes;
}

// A slave descriptor of the test's own, opened before the port takes the line exclusively.
class SlaveView {
  public:
    explicit SlaveView(const std::string& path)
        : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {}
    ~SlaveView() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    SlaveView(const SlaveView&) = delete;
    SlaveView& operator=(const SlaveView&) = delete;

    int Fd() const { return fd_; }
    std::optional<termios> Settings() const {
        termios settings{};
        if (::tcgetattr(fd_, &settings) != 0) {
            return std::nullopt;
        }
        return settings;
    }
    int Waiting() const {
        int waiting = -1;
        ::ioctl(fd_, FIONREAD, &waiting);
        return waiting;
    }

  private:
    int fd_;
};

class SerialPortPty : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(pty.Valid()) << pty.Error(); }

    void OpenConfigured() {
        ASSERT_TRUE(port.Open(pty.SlavePath())) << SerialErrorText(port.LastError());
        ASSERT_TRUE(port.Configure(LineSettings{})) << SerialErrorText(port.LastError());
    }

    PtyPair pty;
    SerialPort port;
};

TEST_F(SerialPortPty, ConfigureGivesRawLineWithSoftwareFlowControl) {
    SlaveView slave(pty.SlavePath());
    ASSERT_GE(slave.Fd(), 0);
    ASSERT_NO_FATAL_FAILURE(OpenConfigured());

    const auto settings = slave.Settings();
    ASSERT_TRUE(settings.has_value());
    const termios& t = *settings;
    EXPECT_EQ(cfgetispeed(&t), B57600);
    EXPECT_EQ(cfgetospeed(&t), B57600);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | PARMRK | BRKINT | IXANY | INPCK), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);

    int exclusive = -1;
    ASSERT_EQ(::ioctl(slave.Fd(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);
    EXPECT_TRUE(port.Close());
    ASSERT_EQ(::ioctl(slave.Fd(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
}

TEST_F(SerialPortPty, ConfigureAppliesValidSettingsAndRefusesOthersUnchanged) {
    SlaveView slave(pty.SlavePath());
    ASSERT_GE(slave.Fd(), 0);
    EXPECT_FALSE(port.Configure(LineSettings{}));
    EXPECT_EQ(port.LastError(), SerialError::NotOpen);
    ASSERT_NO_FATAL_FAILURE(OpenConfigured());

    struct Good {
        LineSettings settings;
        speed_t speed;
        bool twoStops;
        bool parityCheck;
    };
    // A pty keeps speed, stop bits and input checks; it forces 8 bits without parity itself.
    const Good good[] = {
        {{115200, 8, 0, 2}, B115200, true, false},
        {{9600, 7, 2, 0}, B9600, false, true},
        {{4800, 8, 1, 0}, B4800, false, true},
        {{57600, 8, 0, 0}, B57600, false, false},
    };
    for (const auto& c : good) {
        SCOPED_TRACE(c.settings.baudRate);
        ASSERT_TRUE(port.Configure(c.settings)) << SerialErrorText(port.LastError());
        const auto t = slave.Settings();
        ASSERT_TRUE(t.has_value());
        EXPECT_EQ(cfgetospeed(&*t), c.speed);
        EXPECT_EQ(cfgetispeed(&*t), c.speed);
        EXPECT_EQ((t->c_cflag & CSTOPB) != 0, c.twoStops);
        EXPECT_EQ((t->c_iflag & INPCK) != 0, c.parityCheck);
    }

    const LineSettings bad[] = {
        {12345, 8, 0, 0}, {56000, 8, 0, 0}, {0, 8, 0, 0},     {57600, 4, 0, 0},
        {57600, 9, 0, 0}, {57600, 8, 3, 0}, {57600, 8, 0, 1}, {57600, 8, 0, 3},
    };
    for (const auto& settings : bad) {
        SCOPED_TRACE(::testing::Message()
                     << settings.baudRate << " " << int(settings.byteSize) << " "
                     << int(settings.parity) << " " << int(settings.stopBits));
        EXPECT_FALSE(port.Configure(settings));
        EXPECT_EQ(port.LastError(), SerialError::Config);
        const auto t = slave.Settings();
        ASSERT_TRUE(t.has_value());
        EXPECT_EQ(cfgetospeed(&*t), B57600);
    }
}

TEST_F(SerialPortPty, SecondOpenIsRefusedUntilTheFirstCloses) {
    ASSERT_NO_FATAL_FAILURE(OpenConfigured());
    const size_t descriptors = OpenDescriptors();

    SerialPort second;
    EXPECT_FALSE(second.Open(pty.SlavePath()));
    EXPECT_EQ(second.LastError(), SerialError::Busy);
    EXPECT_FALSE(second.IsOpen());
    EXPECT_EQ(OpenDescriptors(), descriptors);

    // Another process is refused too (as root, only the lock stops it).
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        SerialPort other;
        const bool opened = other.Open(pty.SlavePath());
        ::_exit(opened ? 1 : other.LastError() == SerialError::Busy ? 0 : 2);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);

    // Opening again through the holder itself is refused and keeps its line.
    EXPECT_FALSE(port.Open(pty.SlavePath()));
    EXPECT_EQ(port.LastError(), SerialError::Busy);
    EXPECT_TRUE(port.IsOpen());

    EXPECT_TRUE(port.Close());
    EXPECT_FALSE(port.IsOpen());
    EXPECT_TRUE(second.Open(pty.SlavePath())) << SerialErrorText(second.LastError());
    EXPECT_TRUE(second.IsOpen());
    EXPECT_EQ(second.DevicePath(), pty.SlavePath());
}

TEST(SerialPortOpen, FailedOpenLeavesNothingOpen) {
    const auto file = std::filesystem::temp_directory_path() /
                      ("tarnflow-not-a-tty-" + std::to_string(::getpid()));
    std::ofstream(file) << "plain file";
    struct Case {
        std::string path;
        SerialError error;
    };
    const Case cases[] = {
        {"/nonexistent/ttyUSB0", SerialError::NotFound},
        {"", SerialError::NotFound},
        {file.string(), SerialError::NotATty},
        {"/dev/null", SerialError::NotATty},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const size_t descriptors = OpenDescriptors();
        SerialPort port;
        EXPECT_FALSE(port.Open(c.path));
        EXPECT_EQ(port.LastError(), c.error);
        EXPECT_FALSE(port.IsOpen());
        EXPECT_EQ(OpenDescriptors(), descriptors);
        EXPECT_FALSE(port.Close());
        EXPECT_EQ(port.LastError(), SerialError::NotOpen);
    }
    std::filesystem::remove(file);
}

TEST_F(SerialPortPty, ReadReturnsWhatWaitsUpToTheMaximum) {
    ASSERT_NO_FATAL_FAILURE(OpenConfigured());
    uint8_t buffer[1024];
    EXPECT_EQ(port.Read(buffer, sizeof buffer), 0);
    EXPECT_EQ(port.BytesWaiting(), 0u);

    const Bytes sent = Pattern(700);
    ASSERT_TRUE(pty.WriteMaster(sent));
    ASSERT_TRUE(WaitUntil([&] { return port.BytesWaiting() == 700; }));

    EXPECT_EQ(port.Read(buffer, 512), 512);
    EXPECT_EQ(port.BytesWaiting(), 188u);
    EXPECT_EQ(port.Read(buffer + 512, 512), 188);
    EXPECT_EQ(Bytes(buffer, buffer + 700), sent);
    EXPECT_EQ(port.Read(buffer, sizeof buffer), 0);
}

TEST_F(SerialPortPty, OpenAndPurgeDiscardWaitingInput) {
    SlaveView slave(pty.SlavePath());
    ASSERT_GE(slave.Fd(), 0);
    ASSERT_TRUE(pty.WriteMaster(Pattern(10)));
    ASSERT_TRUE(WaitUntil([&] { return slave.Waiting() == 10; }));

    ASSERT_NO_FATAL_FAILURE(OpenConfigured());
    EXPECT_EQ(port.BytesWaiting(), 0u);

    ASSERT_TRUE(pty.WriteMaster(Pattern(10)));
    ASSERT_TRUE(WaitUntil([&] { return port.BytesWaiting() == 10; }));
    EXPECT_TRUE(port.Purge());
    EXPECT_EQ(port.BytesWaiting(), 0u);
}

TEST_F(SerialPortPty, WriteSendsEveryByteUnchanged) {
    ASSERT_NO_FATAL_FAILURE(OpenConfigured());
    const Bytes sent = Pattern(600);
    ASSERT_EQ(port.WriteSome(sent.data(), sent.size()), 600) << SerialErrorText(port.LastError());
    EXPECT_EQ(pty.ReadMaster(sent.size()), sent);
}

TEST_F(SerialPortPty, WriteOnClosedPortFailsAndSendsNothing) {
    const Bytes bytes{0x7E, 0x01, 0x7E};
    const auto expectRefused = [&] {
        EXPECT_EQ(port.WriteSome(bytes.data(), bytes.size()), -1);
        EXPECT_EQ(port.LastError(), SerialError::NotOpen);
        EXPECT_EQ(port.WaitWritable(), WaitResult::Closing);
    };
    expectRefused();

    ASSERT_NO_FATAL_FAILURE(OpenConfigured());
    ASSERT_TRUE(port.Close());
    expectRefused();
    EXPECT_TRUE(pty.ReadMaster(1, 100ms).empty());
}

// The phone's XOFF followed by a byte: once that byte is waiting, the tty has taken the XOFF in.
void HoldOutput(PtyPair& pty, SerialPort& port) {
    ASSERT_TRUE(pty.WriteMaster({0x13, 0x41}));
    ASSERT_TRUE(WaitUntil([&] { return port.BytesWaiting() == 1; }));
    uint8_t byte = 0;
    ASSERT_EQ(port.Read(&byte, 1), 1);
}

TEST_F(SerialPortPty, OpenRestartsOutputLeftStoppedByAnEarlierSession) {
    ASSERT_NO_FATAL_FAILURE(OpenConfigured());
    ASSERT_NO_FATAL_FAILURE(HoldOutput(pty, port));
    const Bytes sent = Pattern(300);
    ASSERT_EQ(port.WriteSome(sent.data(), sent.size()), 0);
    ASSERT_TRUE(port.Close());

    // No XON ever comes; the new session's output runs all the same.
    ASSERT_NO_FATAL_FAILURE(OpenConfigured());
    ASSERT_EQ(port.WriteSome(sent.data(), sent.size()), static_cast<long>(sent.size()));
    EXPECT_EQ(pty.ReadMaster(sent.size()), sent);
}

TEST_F(SerialPortPty, WriteSomeWritesWhatTheLineTakesWithoutWaiting) {
    ASSERT_NO_FATAL_FAILURE(OpenConfigured());
    const Bytes sent = Pattern(1024);
    ASSERT_EQ(port.WriteSome(sent.data(), 100), 100);
    EXPECT_EQ(port.WriteSome(sent.data(), 0), 0);
    EXPECT_EQ(pty.ReadMaster(100), Bytes(sent.begin(), sent.begin() + 100));

    // Held by XOFF: nothing is taken, and that is no failure.
    ASSERT_NO_FATAL_FAILURE(HoldOutput(pty, port));
    EXPECT_EQ(port.WriteSome(sent.data() + 100, sent.size() - 100), 0);
    EXPECT_TRUE(pty.ReadMaster(1, 100ms).empty());
    ASSERT_TRUE(pty.WriteMaster({0x11}));
    ASSERT_EQ(port.WaitWritable(), WaitResult::Writable);
    EXPECT_EQ(port.WriteSome(sent.data() + 100, sent.size() - 100),
              static_cast<long>(sent.size() - 100));
    EXPECT_EQ(pty.ReadMaster(sent.size() - 100), Bytes(sent.begin() + 100, sent.end()));

    // A phone that reads nothing: the output queue fills up and then takes nothing, without
    // failing.
    const Bytes flood = Pattern(1 << 20);
    size_t taken = 0;
    long n = 0;
    EXPECT_TRUE(WaitUntil([&] {
        n = port.WriteSome(flood.data() + taken, flood.size() - taken);
        taken += static_cast<size_t>(std::max(n, 0L));
        return n <= 0;
    }));
    EXPECT_EQ(n, 0);
    EXPECT_GT(taken, 0u);
    EXPECT_LT(taken, flood.size());
}

enum class WriteEvent { Xon, Close, MasterCloses };

struct WriteWaitCase {
    WriteEvent event;
    WaitResult expected;
};

class SerialPortWriteWait : public SerialPortPty,
                            public ::testing::WithParamInterface<WriteWaitCase> {};

TEST_P(SerialPortWriteWait, HeldOutputWaitEndsOnEvent) {
    ASSERT_NO_FATAL_FAILURE(OpenConfigured());
    ASSERT_NO_FATAL_FAILURE(HoldOutput(pty, port));
    std::atomic<pid_t> writerTid{0};
    std::promise<WaitResult> result;
    auto done = result.get_future();
    std::thread writer([&] {
        writerTid.store(ThisThread());
        result.set_value(port.WaitWritable());
    });
    EXPECT_TRUE(WaitUntil([&] { return writerTid.load() != 0 && BlockedInPoll(writerTid); }));

    switch (GetParam().event) {
        case WriteEvent::Xon:
            EXPECT_TRUE(pty.WriteMaster({0x11}));
            break;
        case WriteEvent::Close:
            EXPECT_TRUE(port.Close());
            break;
        case WriteEvent::MasterCloses:
            pty.CloseMaster();
            break;
    }
    const bool ended = done.wait_for(kLimit) == std::future_status::ready;
    EXPECT_TRUE(ended);
    if (!ended) {
        pty.CloseMaster();  // frees the writer so the test can end
    }
    writer.join();
    EXPECT_EQ(done.get(), GetParam().expected);

    // The next write agrees with the wait.
    const Bytes sent = Pattern(16);
    switch (GetParam().event) {
        case WriteEvent::Xon:
            EXPECT_EQ(port.WriteSome(sent.data(), sent.size()), 16);
            EXPECT_EQ(pty.ReadMaster(sent.size()), sent);
            break;
        case WriteEvent::Close:
            EXPECT_EQ(port.WriteSome(sent.data(), sent.size()), -1);
            EXPECT_EQ(port.LastError(), SerialError::NotOpen);
            break;
        case WriteEvent::MasterCloses:
            EXPECT_EQ(port.WaitWritable(), WaitResult::Failed);
            EXPECT_EQ(port.WriteSome(sent.data(), sent.size()), -1);
            EXPECT_EQ(port.LastError(), SerialError::Io);
            break;
    }
}

INSTANTIATE_TEST_SUITE_P(Events, SerialPortWriteWait,
                         ::testing::Values(WriteWaitCase{WriteEvent::Xon, WaitResult::Writable},
                                           WriteWaitCase{WriteEvent::Close, WaitResult::Closing},
                                           WriteWaitCase{WriteEvent::MasterCloses,
                                                         WaitResult::Failed}),
                         [](const auto& info) {
                             switch (info.param.event) {
                                 case WriteEvent::Xon:
                                     return "Xon";
                                 case WriteEvent::Close:
                                     return "Close";
                                 case WriteEvent::MasterCloses:
                                     return "MasterCloses";
                             }
                             return "Unknown";
                         });

enum class Event { Close, MasterWrites, MasterCloses };

struct WaitCase {
    Event event;
    WaitResult expected;
};

class SerialPortWait : public SerialPortPty, public ::testing::WithParamInterface<WaitCase> {};

TEST_P(SerialPortWait, BlockedWaitEndsOnEvent) {
    ASSERT_NO_FATAL_FAILURE(OpenConfigured());
    std::atomic<pid_t> readerTid{0};
    std::promise<WaitResult> result;
    auto done = result.get_future();
    std::thread reader([&] {
        readerTid.store(ThisThread());
        result.set_value(port.WaitForInput());
    });
    EXPECT_TRUE(WaitUntil([&] { return readerTid.load() != 0 && BlockedInPoll(readerTid); }));

    switch (GetParam().event) {
        case Event::Close:
            EXPECT_TRUE(port.Close());
            break;
        case Event::MasterWrites:
            EXPECT_TRUE(pty.WriteMaster({0x7E}));
            break;
        case Event::MasterCloses:
            pty.CloseMaster();
            break;
    }
    const bool ended = done.wait_for(kLimit) == std::future_status::ready;
    EXPECT_TRUE(ended);
    if (!ended) {
        pty.CloseMaster();  // frees the reader so the test can end
    }
    reader.join();
    EXPECT_EQ(done.get(), GetParam().expected);

    // A second wait gives the same answer at once: no spinning on a dead line.
    EXPECT_EQ(port.WaitForInput(), GetParam().expected);
    uint8_t byte = 0;
    switch (GetParam().event) {
        case Event::Close:
            EXPECT_EQ(port.Read(&byte, 1), -1);
            EXPECT_EQ(port.LastError(), SerialError::NotOpen);
            EXPECT_EQ(port.BytesWaiting(), 0u);
            break;
        case Event::MasterWrites:
            EXPECT_EQ(port.Read(&byte, 1), 1);
            EXPECT_EQ(byte, 0x7E);
            break;
        case Event::MasterCloses:
            EXPECT_EQ(port.Read(&byte, 1), -1);
            EXPECT_EQ(port.LastError(), SerialError::Io);
            EXPECT_TRUE(port.Close());
            break;
    }
}

INSTANTIATE_TEST_SUITE_P(Events, SerialPortWait,
                         ::testing::Values(WaitCase{Event::Close, WaitResult::Closing},
                                           WaitCase{Event::MasterWrites, WaitResult::Data},
                                           WaitCase{Event::MasterCloses, WaitResult::Failed}),
                         [](const auto& info) {
                             switch (info.param.event) {
                                 case Event::Close:
                                     return "Close";
                                 case Event::MasterWrites:
                                     return "MasterWrites";
                                 case Event::MasterCloses:
                                     return "MasterCloses";
                             }
                             return "Unknown";
                         });

}  // namespace
}  // namespace tarnflow
