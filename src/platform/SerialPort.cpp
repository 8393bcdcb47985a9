#include "platform/SerialPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <mutex>
#include <utility>

namespace tarnflow {

namespace {

// Owns a descriptor until it is handed over, so that a failed Open leaves nothing open.
class UniqueFd {
  public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return fd_; }
    int Release() { return std::exchange(fd_, -1); }

  private:
    int fd_;
};

SerialError ErrorFromErrno(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:  // a part of the path is a file: no device there either
        case ENXIO:
        case ENODEV:
            return SerialError::NotFound;
        case EACCES:
        case EPERM:
            return SerialError::Permission;
        case EBUSY:
        case EWOULDBLOCK:  // flock: another open file description holds the lock
            return SerialError::Busy;
        case ENOTTY:
        case EISDIR:
            return SerialError::NotATty;
        default:
            return SerialError::Io;
    }
}

// A tty whose other end has gone (a pseudo-terminal whose master closed, a USB port on its way
// out) refuses to be opened or queried with EIO: at open time that is a device that went away.
SerialError OpenErrorFromErrno(int error) {
    return error == EIO ? SerialError::NotFound : ErrorFromErrno(error);
}

// termios knows only the fixed rates; anything else cannot be set portably.
bool SpeedFor(int baudRate, speed_t& speed) {
    static constexpr std::pair<int, speed_t> kRates[] = {
        {50, B50},           {75, B75},           {110, B110},         {134, B134},
        {150, B150},         {200, B200},         {300, B300},         {600, B600},
        {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
        {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
        {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
        {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
        {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
        {3500000, B3500000}, {4000000, B4000000},
    };
    for (const auto& [rate, value] : kRates) {
        if (rate == baudRate) {
            speed = value;
            return true;
        }
    }
    return false;
}

tcflag_t SizeFlag(uint8_t byteSize) {
    switch (byteSize) {
        case 5:
            return CS5;
        case 6:
            return CS6;
        case 7:
            return CS7;
        default:
            return CS8;
    }
}

bool ValidFraming(const LineSettings& settings) {
    return settings.byteSize >= 5 && settings.byteSize <= 8 && settings.parity <= 2 &&
           (settings.stopBits == 0 || settings.stopBits == 2);
}

// Modem-line changes fail on pseudo-terminals, which have none; that is not an error here.
void ClearModemLines(int fd, int lines) {
    ::ioctl(fd, TIOCMBIC, &lines);
}

int PollRetrying(pollfd* fds, nfds_t count, int timeoutMs) {
    int result;
    do {
        result = ::poll(fds, count, timeoutMs);
    } while (result < 0 && errno == EINTR);
    return result;
}

constexpr short kFailureEvents = POLLERR | POLLHUP | POLLNVAL;

}  // namespace

const char* SerialErrorText(SerialError error) {
    switch (error) {
        case SerialError::None:
            return "no error";
        case SerialError::NotOpen:
            return "the port is not open";
        case SerialError::NotFound:
            return "no such device";
        case SerialError::Busy:
            return "the port is in use";
        case SerialError::Permission:
            return "no access to the device";
        case SerialError::NotATty:
            return "the device is not a terminal";
        case SerialError::Config:
            return "the line settings could not be applied";
        case SerialError::Io:
            return "input/output error";
    }
    return "unknown error";
}

SerialPort::SerialPort() = default;

SerialPort::~SerialPort() {
    Close();
}

bool SerialPort::Open(const std::string& devicePath) {
    if (IsOpen()) {
        SetError(SerialError::Busy);
        return false;
    }
    if (devicePath.empty()) {
        SetError(SerialError::NotFound);
        return false;
    }
    UniqueFd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (wake.Get() < 0) {
        SetError(ErrorFromErrno(errno));
        return false;
    }
    // O_NOCTTY: the phone must never become our controlling terminal (a hang-up would signal
    // us). O_NONBLOCK: the open does not wait for carrier and no later call blocks in the kernel.
    int raw;
    do {
        raw = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (raw < 0 && errno == EINTR);
    UniqueFd device(raw);
    if (device.Get() < 0) {
        SetError(OpenErrorFromErrno(errno));
        return false;
    }
    // Anything but a terminal fails with ENOTTY; a terminal that hung up fails with EIO.
    termios probe{};
    if (::tcgetattr(device.Get(), &probe) < 0) {
        SetError(OpenErrorFromErrno(errno));
        return false;
    }
    // TIOCEXCL does not stop a privileged process, the lock does: it is refused to every other
    // open file description, in this process or another.
    int locked;
    do {
        locked = ::flock(device.Get(), LOCK_EX | LOCK_NB);
    } while (locked < 0 && errno == EINTR);
    if (locked < 0) {
        SetError(ErrorFromErrno(errno));
        return false;
    }
    // The line is driven with DTR disabled: it stays down while we hold the port.
    ClearModemLines(device.Get(), TIOCM_DTR);
    if (::tcflush(device.Get(), TCIOFLUSH) < 0) {
        SetError(ErrorFromErrno(errno));
        return false;
    }
    // An XOFF received in an earlier session leaves the tty's output stopped, and closing does
    // not clear that. TCOON alone restarts only output stopped by TCOOFF, so stop it that way
    // first: the pair resumes output whichever way it was stopped.
    if (::tcflow(device.Get(), TCOOFF) < 0 || ::tcflow(device.Get(), TCOON) < 0) {
        SetError(ErrorFromErrno(errno));
        return false;
    }
    // Last, so that no failure is left behind with the tty marked exclusive.
    if (::ioctl(device.Get(), TIOCEXCL) < 0) {
        SetError(ErrorFromErrno(errno));
        return false;
    }

    std::unique_lock<std::shared_mutex> lock(useMutex_);
    devicePath_ = devicePath;
    wakeFd_ = wake.Release();
    closing_.store(false);
    fd_.store(device.Release());
    SetError(SerialError::None);
    return true;
}

bool SerialPort::Configure(const LineSettings& settings) {
    std::shared_lock<std::shared_mutex> lock(useMutex_);
    const int fd = fd_.load();
    if (fd < 0 || closing_.load()) {
        SetError(SerialError::NotOpen);
        return false;
    }
    speed_t speed;
    if (!SpeedFor(settings.baudRate, speed) || !ValidFraming(settings)) {
        SetError(SerialError::Config);
        return false;
    }
    termios original{};
    if (::tcgetattr(fd, &original) < 0) {
        SetError(ErrorFromErrno(errno));
        return false;
    }
    termios wanted = original;
    // Raw bytes: no CR/LF mapping, no stripping or marking, no output processing, no echo,
    // no line editing and no signals from received bytes.
    ::cfmakeraw(&wanted);
    wanted.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    wanted.c_cflag |= SizeFlag(settings.byteSize);
    if (settings.parity != 0) {
        wanted.c_cflag |= PARENB;
        if (settings.parity == 1) {
            wanted.c_cflag |= PARODD;
        }
        wanted.c_iflag |= INPCK;
    } else {
        wanted.c_iflag &= ~INPCK;
    }
    if (settings.stopBits == 2) {
        wanted.c_cflag |= CSTOPB;
    }
    // CLOCAL: the phone drives no carrier line, so the port must not wait for or hang up on it.
    wanted.c_cflag |= CLOCAL | CREAD;
    // Software flow control both ways with the tty's own start/stop characters; only the
    // start character resumes output.
    wanted.c_iflag |= IXON | IXOFF;
    wanted.c_iflag &= ~IXANY;
    // A read returns at once with whatever is waiting, possibly nothing.
    wanted.c_cc[VMIN] = 0;
    wanted.c_cc[VTIME] = 0;
    if (::cfsetispeed(&wanted, speed) < 0 || ::cfsetospeed(&wanted, speed) < 0) {
        SetError(SerialError::Config);
        return false;
    }
    if (::tcsetattr(fd, TCSANOW, &wanted) < 0) {
        const int error = errno;
        SetError(error == EINVAL ? SerialError::Config : ErrorFromErrno(error));
        return false;
    }
    // tcsetattr succeeds when any part of the request took effect; a driver that silently
    // kept another speed shows only when the settings are read back.
    termios applied{};
    if (::tcgetattr(fd, &applied) < 0 || ::cfgetispeed(&applied) != speed ||
        ::cfgetospeed(&applied) != speed) {
        ::tcsetattr(fd, TCSANOW, &original);
        SetError(SerialError::Config);
        return false;
    }
    return true;
}

bool SerialPort::Close() {
    if (!IsOpen()) {
        SetError(SerialError::NotOpen);
        return false;
    }
    // Wake the reader and the writer before taking the lock they hold while they wait.
    closing_.store(true);
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t signalled = ::write(wakeFd_, &one, sizeof one);

    std::unique_lock<std::shared_mutex> lock(useMutex_);
    const int fd = fd_.load();
    ClearModemLines(fd, TIOCM_DTR | TIOCM_RTS);
    // Leave the tty open to others again, should anyone still hold it.
    ::ioctl(fd, TIOCNXCL);
    ::tcflush(fd, TCIOFLUSH);
    // On Linux the descriptor is released even when close reports an error (EINTR included);
    // an error other than EINTR is still reported, as a failed close of the port.
    const bool closed = ::close(fd) == 0 || errno == EINTR;
    ::close(wakeFd_);
    wakeFd_ = -1;
    fd_.store(-1);
    if (!closed) {
        SetError(SerialError::Io);
    }
    return closed;
}

bool SerialPort::Purge() {
    std::shared_lock<std::shared_mutex> lock(useMutex_);
    const int fd = fd_.load();
    if (fd < 0 || closing_.load()) {
        SetError(SerialError::NotOpen);
        return false;
    }
    if (::tcflush(fd, TCIOFLUSH) < 0) {
        SetError(ErrorFromErrno(errno));
        return false;
    }
    return true;
}

size_t SerialPort::BytesWaiting() {
    std::shared_lock<std::shared_mutex> lock(useMutex_);
    const int fd = fd_.load();
    if (fd < 0 || closing_.load()) {
        SetError(SerialError::NotOpen);
        return 0;
    }
    int waiting = 0;
    if (::ioctl(fd, FIONREAD, &waiting) < 0) {
        SetError(ErrorFromErrno(errno));
        return 0;
    }
    return waiting > 0 ? static_cast<size_t>(waiting) : 0;
}

long SerialPort::Read(uint8_t* buffer, size_t maximum) {
    std::shared_lock<std::shared_mutex> lock(useMutex_);
    const int fd = fd_.load();
    if (fd < 0 || closing_.load()) {
        SetError(SerialError::NotOpen);
        return -1;
    }
    if (maximum == 0) {
        return 0;
    }
    if (buffer == nullptr) {
        SetError(SerialError::Io);
        return -1;
    }
    int waiting = 0;
    if (::ioctl(fd, FIONREAD, &waiting) < 0) {
        SetError(ErrorFromErrno(errno));
        return -1;
    }
    const size_t wanted = std::min(
        {maximum, static_cast<size_t>(std::max(waiting, 0)), static_cast<size_t>(LONG_MAX)});
    if (wanted == 0) {
        return 0;
    }
    for (;;) {
        const ssize_t got = ::read(fd, buffer, wanted);
        if (got >= 0) {
            return static_cast<long>(got);
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return 0;
        }
        SetError(ErrorFromErrno(errno));
        return -1;
    }
}

long SerialPort::WriteSome(const uint8_t* bytes, size_t count) {
    std::shared_lock<std::shared_mutex> lock(useMutex_);
    const int fd = fd_.load();
    if (fd < 0 || closing_.load()) {
        SetError(SerialError::NotOpen);
        return -1;
    }
    if (count == 0) {
        return 0;
    }
    if (bytes == nullptr) {
        SetError(SerialError::Io);
        return -1;
    }
    const size_t wanted = std::min(count, static_cast<size_t>(LONG_MAX));
    for (;;) {
        const ssize_t n = ::write(fd, bytes, wanted);
        if (n >= 0) {
            return static_cast<long>(n);
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return 0;  // held back by the phone's XOFF, or the output queue is full
        }
        SetError(ErrorFromErrno(errno));
        return -1;
    }
}

// Blocks until the port reports `wanted` or trouble, or Close wakes the wait. The caller holds
// useMutex_ shared. Returns Closing or Failed when the wait ended so; otherwise Data, with the
// port's events in `events`.
WaitResult SerialPort::WaitForEvents(short wanted, short& events) {
    const int fd = fd_.load();
    if (fd < 0 || closing_.load()) {
        SetError(SerialError::NotOpen);
        return WaitResult::Closing;
    }
    pollfd fds[2] = {{fd, wanted, 0}, {wakeFd_, POLLIN, 0}};
    if (PollRetrying(fds, 2, -1) < 0) {
        SetError(ErrorFromErrno(errno));
        return WaitResult::Failed;
    }
    if (fds[1].revents != 0 || closing_.load()) {
        SetError(SerialError::NotOpen);
        return WaitResult::Closing;
    }
    events = fds[0].revents;
    return WaitResult::Data;
}

WaitResult SerialPort::WaitWritable() {
    std::shared_lock<std::shared_mutex> lock(useMutex_);
    short events = 0;
    const WaitResult waited = WaitForEvents(POLLOUT, events);
    if (waited != WaitResult::Data) {
        return waited;
    }
    // A hung-up tty reports POLLOUT along with the hang-up, but every write fails.
    if ((events & kFailureEvents) != 0) {
        SetError(SerialError::Io);
        return WaitResult::Failed;
    }
    return WaitResult::Writable;
}

WaitResult SerialPort::WaitForInput() {
    std::shared_lock<std::shared_mutex> lock(useMutex_);
    short events = 0;
    const WaitResult waited = WaitForEvents(POLLIN, events);
    if (waited != WaitResult::Data || (events & kFailureEvents) == 0) {
        return waited;
    }
    // A hung-up tty reports POLLIN for ever with nothing to read; only bytes that can still be
    // read count as input, or the reader would spin on the dead line.
    int waiting = 0;
    if ((events & POLLIN) != 0 && ::ioctl(fd_.load(), FIONREAD, &waiting) == 0 && waiting > 0) {
        return WaitResult::Data;
    }
    SetError(SerialError::Io);
    return WaitResult::Failed;
}

}  // namespace tarnflow
