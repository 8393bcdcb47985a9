#include "cli/SignalWatch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace tarnflow::cli {

namespace {

sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

}  // namespace

bool SignalWatch::Start(std::function<void(int)> onSignal) {
    onSignal_ = std::move(onSignal);
    const sigset_t set = StopSignals();
    if (pthread_sigmask(SIG_BLOCK, &set, &oldMask_) != 0) {
        return false;
    }
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &oldPipe_);
    started_ = true;
    signalFd_ = signalfd(-1, &set, SFD_CLOEXEC);
    stopFd_ = eventfd(0, EFD_CLOEXEC);
    if (signalFd_ < 0 || stopFd_ < 0) {
        return false;
    }
    thread_ = std::thread([this] { Watch(); });
    return true;
}

void SignalWatch::Watch() {
    for (;;) {
        pollfd fds[2] = {{signalFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[1].revents != 0) {
            return;
        }
        signalfd_siginfo info{};
        if (read(signalFd_, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) {
            continue;
        }
        int expected = 0;
        const int number = static_cast<int>(info.ssi_signo);
        if (received_.compare_exchange_strong(expected, number) && onSignal_) {
            onSignal_(number);
        }
    }
}

SignalWatch::~SignalWatch() {
    if (thread_.joinable()) {
        const uint64_t one = 1;
        (void)!write(stopFd_, &one, sizeof one);
        thread_.join();
    }
    if (signalFd_ >= 0) {
        close(signalFd_);
    }
    if (stopFd_ >= 0) {
        close(stopFd_);
    }
    if (started_) {
        // A signal still pending (a second Ctrl-C while closing) is delivered now, as usual.
        pthread_sigmask(SIG_SETMASK, &oldMask_, nullptr);
        sigaction(SIGPIPE, &oldPipe_, nullptr);
    }
}

}  // namespace tarnflow::cli
