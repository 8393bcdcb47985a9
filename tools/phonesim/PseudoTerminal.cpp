#include "phonesim/PseudoTerminal.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tarnflow::phonesim {

namespace {

std::string Failure(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

bool PseudoTerminal::Open(std::string& error) {
    Close();
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (master < 0) {
        error = Failure("posix_openpt");
        return false;
    }
    char name[128];
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        ::ptsname_r(master, name, sizeof name) != 0) {
        error = Failure("pseudo-terminal setup");
        ::close(master);
        return false;
    }
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    termios settings{};
    if (slave < 0 || ::tcgetattr(slave, &settings) != 0) {
        error = Failure("pseudo-terminal slave");
        if (slave >= 0) {
            ::close(slave);
        }
        ::close(master);
        return false;
    }
    // Raw until the tool sets its own mode: no echo, no translation of the phone's bytes.
    ::cfmakeraw(&settings);
    if (::tcsetattr(slave, TCSANOW, &settings) != 0) {
        error = Failure("pseudo-terminal raw mode");
        ::close(slave);
        ::close(master);
        return false;
    }
    master_ = master;
    heldSlave_ = slave;
    slavePath_ = name;
    return true;
}

void PseudoTerminal::Close() {
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
    if (heldSlave_ >= 0) {
        ::close(heldSlave_);
        heldSlave_ = -1;
    }
}

}  // namespace tarnflow::phonesim
