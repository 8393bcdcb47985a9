#include "engine/PortNumbers.h"

#include <cstdlib>

#include "comm/Registry.h"
#include "platform/PortNames.h"

namespace tarnflow {

namespace {

constexpr const char* kSection = "PORTS";

// The section holds both directions: socket -> number, and "COM%d" -> socket, so that a new
// socket can see which numbers other sockets keep.
std::string SocketOf(int number) {
    return CRegistry::ReadSectionString(kSection, PortNames::PortName(number));
}

int StoredNumber(const std::string& socket) {
    const int number = std::atoi(CRegistry::ReadSectionString(kSection, socket).c_str());
    if (number < PortNames::kMinPort || number > PortNames::kMaxPort) {
        return 0;
    }
    return SocketOf(number) == socket ? number : 0;
}

int FreshNumber(const std::string& socket) {
    for (int n = PortNames::kMinPort; n <= PortNames::kMaxPort; ++n) {
        if (PortNames::NodeFor(n).empty()) {
            const std::string keeper = SocketOf(n);
            if (keeper.empty() || keeper == socket) {
                return n;
            }
        }
    }
    return 0;  // every free number is kept for a socket: take the lowest free one
}

}  // namespace

std::string PortNameFor(const SerialDevice& device) {
    if (device.physicalPath.empty()) {
        const int number = PortNames::NumberFor(device.node);
        return number == 0 ? "" : PortNames::PortName(number);
    }
    const std::string& socket = device.physicalPath;
    int preferred = StoredNumber(socket);
    if (preferred == 0) {
        preferred = FreshNumber(socket);
    }
    const int number = PortNames::NumberFor(device.node, preferred);
    if (number == 0) {
        return "";
    }
    const int stored = StoredNumber(socket);
    if (number != stored) {
        if (stored != 0) {
            CRegistry::WriteSectionString(kSection, PortNames::PortName(stored), "");
        }
        CRegistry::WriteSectionString(kSection, socket, std::to_string(number));
        CRegistry::WriteSectionString(kSection, PortNames::PortName(number), socket);
    }
    return PortNames::PortName(number);
}

}  // namespace tarnflow
