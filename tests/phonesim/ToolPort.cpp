#include "ToolPort.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "comm/Checksums.h"
#include "comm/FrameCodec.h"

namespace tarnflow::phonesim::testing {

namespace {

using SteadyClock = std::chrono::steady_clock;

int MillisecondsLeft(SteadyClock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now());
    return static_cast<int>(std::clamp<int64_t>(left.count(), 0, INT_MAX));
}

}  // namespace

ToolPort::ToolPort(const std::string& path, bool flowControl) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios settings{};
    if (fd < 0 || ::tcgetattr(fd, &settings) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        return;
    }
    ::cfmakeraw(&settings);
    if (flowControl) {
        settings.c_iflag |= IXON | IXOFF;
    }
    ::cfsetspeed(&settings, B57600);
    if (::tcsetattr(fd, TCSANOW, &settings) != 0) {
        ::close(fd);
        return;
    }
    fd_ = fd;
}

ToolPort::~ToolPort() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool ToolPort::Send(const Bytes& bytes) {
    const auto deadline = SteadyClock::now() + kSafetyLimit;
    size_t done = 0;
    while (fd_ >= 0 && done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            sent_ += static_cast<uint64_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        pollfd pfd{fd_, POLLOUT, 0};
        if (::poll(&pfd, 1, MillisecondsLeft(deadline)) <= 0) {
            return false;
        }
    }
    return done == bytes.size();
}

bool ToolPort::SendRequest(const Bytes& request, bool frameMode) {
    uint8_t frame[kFrameWorkSize];
    const size_t length = EncodeFrame(request.data(), request.size(), frameMode, frame);
    return Send(Bytes(frame, frame + length));
}

std::optional<Bytes> ToolPort::ReadAnswer(std::chrono::milliseconds limit) {
    const auto deadline = SteadyClock::now() + limit;
    for (;;) {
        // A frame is a 0x7E, at least one other byte and the next 0x7E.
        const auto start = std::find(buffer_.begin(), buffer_.end(), kFrameFlag);
        buffer_.erase(buffer_.begin(), start);
        if (buffer_.size() >= 2 && buffer_[1] == kFrameFlag) {
            buffer_.erase(buffer_.begin());
            continue;
        }
        const auto end = buffer_.size() < 2
                             ? buffer_.end()
                             : std::find(buffer_.begin() + 1, buffer_.end(), kFrameFlag);
        if (end != buffer_.end()) {
            const Bytes frame(buffer_.begin(), end + 1);
            buffer_.erase(buffer_.begin(), end + 1);
            FrameReceiver receiver;
            if (receiver.Feed(frame.data(), frame.size(), true) !=
                FrameReceiver::Outcome::Accepted) {
                return Bytes{};
            }
            return Bytes(receiver.Packet(), receiver.Packet() + 3);
        }
        if (!Fill(deadline)) {
            return std::nullopt;
        }
    }
}

Bytes ToolPort::ReadRaw(size_t count, std::chrono::milliseconds limit) {
    const auto deadline = SteadyClock::now() + limit;
    while (buffer_.size() < count && Fill(deadline)) {
    }
    const size_t n = std::min(count, buffer_.size());
    Bytes out(buffer_.begin(), buffer_.begin() + static_cast<ptrdiff_t>(n));
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<ptrdiff_t>(n));
    return out;
}

bool ToolPort::HasInput() {
    pollfd pfd{fd_, POLLIN, 0};
    return !buffer_.empty() || (::poll(&pfd, 1, 0) > 0 && (pfd.revents & POLLIN) != 0);
}

bool ToolPort::WaitHangUp(std::chrono::milliseconds limit) {
    const auto deadline = SteadyClock::now() + limit;
    for (;;) {
        pollfd pfd{fd_, POLLIN, 0};
        if (::poll(&pfd, 1, MillisecondsLeft(deadline)) <= 0) {
            return false;
        }
        if ((pfd.revents & POLLHUP) != 0) {
            return true;
        }
        uint8_t byte = 0;
        const ssize_t n = ::read(fd_, &byte, 1);
        if (n == 0 || (n < 0 && errno == EIO)) {
            return true;
        }
    }
}

bool ToolPort::Fill(SteadyClock::time_point deadline) {
    for (;;) {
        uint8_t chunk[512];
        const ssize_t n = ::read(fd_, chunk, sizeof chunk);
        if (n > 0) {
            buffer_.insert(buffer_.end(), chunk, chunk + n);
            return true;
        }
        if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            return false;
        }
        pollfd pfd{fd_, POLLIN, 0};
        if (::poll(&pfd, 1, MillisecondsLeft(deadline)) <= 0 || (pfd.revents & POLLIN) == 0) {
            return false;
        }
    }
}

Bytes MakeBlock(uint32_t seed) {
    Bytes block(kBlock);
    uint32_t state = seed * 2654435761u + 1;
    for (uint8_t& byte : block) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<uint8_t>(state >> 24);
    }
    return block;
}

Bytes BlockWithCheckByte(uint8_t byte, uint32_t from) {
    for (uint32_t seed = from;; ++seed) {
        Bytes block = MakeBlock(seed);
        const uint16_t check = BlockCheckValue(block.data(), block.size());
        if ((check >> 8) == byte || (check & 0xFF) == byte) {
            return block;
        }
    }
}

Bytes AckFor(const Bytes& block) {
    const uint16_t check = BlockCheckValue(block.data(), block.size());
    return {0x02, static_cast<uint8_t>(check >> 8), static_cast<uint8_t>(check & 0xFF)};
}

Bytes EraseRequest(uint8_t code, uint32_t first, uint32_t length) {
    Bytes request{code};
    for (const uint32_t value : {first, length}) {
        for (int shift = 0; shift < 32; shift += 8) {
            request.push_back(static_cast<uint8_t>(value >> shift));
        }
    }
    return request;
}

Bytes RetryPacket() {
    Bytes packet(kBlock, 0x00);
    const uint8_t signature[] = {0x01, 0x12, 0x73, 0x80, 0x40, 0x67, 0x24, 0x01};
    std::copy(std::begin(signature), std::end(signature), packet.begin());
    return packet;
}

Bytes Concat(const std::vector<Bytes>& parts) {
    Bytes out;
    for (const Bytes& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

}  // namespace tarnflow::phonesim::testing
