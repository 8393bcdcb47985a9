#include "support/PtyPair.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

namespace tarnflow::testing {

namespace {

int MillisecondsLeft(std::chrono::steady_clock::time_point deadline) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::clamp<int64_t>(left.count(), 0, INT_MAX));
}

}  // namespace

PtyPair::PtyPair() {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) {
        error_ = std::string("posix_openpt: ") + std::strerror(errno);
        return;
    }
    char name[128];
    termios settings{};
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        ::ptsname_r(master, name, sizeof name) != 0 || ::tcgetattr(master, &settings) != 0) {
        error_ = std::string("pty setup: ") + std::strerror(errno);
        ::close(master);
        return;
    }
    // On Linux termios calls on the master act on the slave's settings: the slave starts raw
    // too (no echo, no translation) until the code under test configures it.
    ::cfmakeraw(&settings);
    if (::tcsetattr(master, TCSANOW, &settings) != 0 ||
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK) != 0) {
        error_ = std::string("pty raw mode: ") + std::strerror(errno);
        ::close(master);
        return;
    }
    master_ = master;
    slavePath_ = name;
}

PtyPair::~PtyPair() {
    CloseMaster();
}

void PtyPair::CloseMaster() {
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
}

bool PtyPair::WriteMaster(const uint8_t* bytes, size_t count, std::chrono::milliseconds limit) {
    if (master_ < 0 || (bytes == nullptr && count > 0)) {
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + limit;
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(master_, bytes + done, count - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EINTR && errno != EAGAIN) {
            return false;
        }
        pollfd fd{master_, POLLOUT, 0};
        const int ready = ::poll(&fd, 1, MillisecondsLeft(deadline));
        if (ready == 0 || (ready < 0 && errno != EINTR)) {
            return false;
        }
    }
    return true;
}

bool PtyPair::WriteMaster(const std::vector<uint8_t>& bytes, std::chrono::milliseconds limit) {
    return WriteMaster(bytes.data(), bytes.size(), limit);
}

std::vector<uint8_t> PtyPair::ReadMaster(size_t count, std::chrono::milliseconds limit) {
    std::vector<uint8_t> got;
    if (master_ < 0) {
        return got;
    }
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (got.size() < count) {
        pollfd fd{master_, POLLIN, 0};
        const int ready = ::poll(&fd, 1, MillisecondsLeft(deadline));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            break;
        }
        uint8_t chunk[4096];
        const ssize_t n = ::read(master_, chunk, std::min(sizeof chunk, count - got.size()));
        if (n > 0) {
            got.insert(got.end(), chunk, chunk + n);
            continue;
        }
        // EIO or end of file: no slave holds the line; EAGAIN: the wake-up was spurious.
        if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
            break;
        }
    }
    return got;
}

}  // namespace tarnflow::testing
