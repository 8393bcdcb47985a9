#include "phonesim/Phone.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "phonesim/DeviceLink.h"

namespace tarnflow::phonesim {

namespace {

constexpr size_t kReadChunk = 4096;
// Reads per wake-up before the input is handled, so a flood cannot starve the protocol.
constexpr int kReadsPerWake = 16;

timespec ToTimespec(Nanos left) {
    left = std::max(left, Nanos::zero());
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
    return {static_cast<time_t>(seconds.count()), static_cast<long>((left - seconds).count())};
}

}  // namespace

bool Phone::Start(const PhoneOptions& options) {
    if (thread_.joinable()) {
        error_ = "phone already running";
        return false;
    }
    if (!pty_.Open(error_)) {
        return false;
    }
    slavePath_ = pty_.SlavePath();
    stopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stopFd_ < 0) {
        error_ = std::string("eventfd: ") + std::strerror(errno);
        pty_.Close();
        return false;
    }
    deviceLink_.clear();
    if (!options.deviceLink.empty()) {
        if (!CreateDeviceLink(options.deviceLink, slavePath_, error_)) {
            ::close(stopFd_);
            stopFd_ = -1;
            pty_.Close();
            return false;
        }
        deviceLink_ = options.deviceLink;
    }
    {
        std::lock_guard lock(mutex_);
        core_ = LoaderCore(options.baud, options.faults);
    }
    masterUsable_ = true;
    pending_.clear();
    thread_ = std::thread([this] { Loop(); });
    return true;
}

void Phone::Stop() {
    if (thread_.joinable()) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(stopFd_, &one, sizeof one);
        thread_.join();
    }
    if (stopFd_ >= 0) {
        ::close(stopFd_);
        stopFd_ = -1;
    }
    if (!deviceLink_.empty()) {
        RemoveDeviceLink(deviceLink_, slavePath_);
    }
    pty_.Close();
}

void Phone::SetFaults(const FaultSettings& faults) {
    std::lock_guard lock(mutex_);
    core_.SetFaults(faults);
}

std::vector<uint8_t> Phone::ReadFlash(uint32_t address, size_t length) const {
    std::lock_guard lock(mutex_);
    return core_.Memory().flash.Read(address, length);
}

std::vector<uint8_t> Phone::ReadArea(int area, uint32_t offset, size_t length) const {
    if (area < 1 || area > kAreaCount) {
        return std::vector<uint8_t>(length, 0xFF);
    }
    std::lock_guard lock(mutex_);
    return core_.Memory().areas[area - 1].Read(offset, length);
}

std::vector<RequestRecord> Phone::Requests() const {
    std::lock_guard lock(mutex_);
    return core_.Requests();
}

PhoneStats Phone::Stats() const {
    std::lock_guard lock(mutex_);
    return core_.Stats();
}

PhoneMemory Phone::Memory() const {
    std::lock_guard lock(mutex_);
    return core_.Memory();
}

void Phone::Loop() {
    for (;;) {
        const TimePoint now = Clock::now();
        std::optional<TimePoint> wakeAt;
        bool unplugged = false;
        {
            std::lock_guard lock(mutex_);
            wakeAt = core_.Run(now);
            core_.TakeOutput(now, pending_);
            const std::optional<TimePoint> nextOutput = core_.NextOutput();
            if (nextOutput && (!wakeAt || *nextOutput < *wakeAt)) {
                wakeAt = nextOutput;
            }
            unplugged = core_.Stats().unplugged;
        }
        if (unplugged) {
            // Pulled out: the device-map entry goes and the tool's port hangs up.
            if (!deviceLink_.empty()) {
                RemoveDeviceLink(deviceLink_, slavePath_);
            }
            pty_.Close();
            return;
        }
        WritePending();
        if (!Wait(wakeAt, !pending_.empty())) {
            return;
        }
    }
}

bool Phone::Wait(std::optional<TimePoint> wakeAt, bool wantWrite) {
    pollfd fds[2] = {
        {stopFd_, POLLIN, 0},
        {masterUsable_ ? pty_.MasterFd() : -1,
         static_cast<short>(POLLIN | (wantWrite ? POLLOUT : 0)), 0},
    };
    timespec timeout{};
    if (wakeAt) {
        timeout = ToTimespec(*wakeAt - Clock::now());
    }
    if (::ppoll(fds, 2, wakeAt ? &timeout : nullptr, nullptr) < 0) {
        return errno == EINTR;
    }
    if (fds[0].revents != 0) {
        return false;
    }
    if ((fds[1].revents & POLLIN) != 0) {
        ReadInput();
    } else if ((fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        masterUsable_ = false;  // cannot happen while the held slave is open; never spin on it
    }
    return true;
}

void Phone::ReadInput() {
    uint8_t buffer[kReadChunk];
    for (int reads = 0; reads < kReadsPerWake; ++reads) {
        const ssize_t n = ::read(pty_.MasterFd(), buffer, sizeof buffer);
        if (n > 0) {
            std::lock_guard lock(mutex_);
            core_.Receive(buffer, static_cast<size_t>(n), Clock::now());
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n == 0 || errno != EAGAIN) {
            masterUsable_ = false;
        }
        return;
    }
}

void Phone::WritePending() {
    while (!pending_.empty() && masterUsable_) {
        const ssize_t n = ::write(pty_.MasterFd(), pending_.data(), pending_.size());
        if (n > 0) {
            pending_.erase(pending_.begin(), pending_.begin() + n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno == EAGAIN) {
            return;  // the tool is not reading; poll waits for room
        }
        pending_.clear();
        return;
    }
    if (!masterUsable_) {
        pending_.clear();
    }
}

}  // namespace tarnflow::phonesim
