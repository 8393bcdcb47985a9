#include "cli/PortSource.h"

#include <poll.h>

#include <cstdio>

#include "platform/HotPlugWatch.h"
#include "platform/PortNames.h"

namespace tarnflow::cli {

namespace {

std::string PortNameFor(const std::string& node) {
    const int number = PortNames::NumberFor(node);
    return number == 0 ? "" : PortNames::PortName(number);
}

}  // namespace

bool AssignPorts(const CliOptions& options, CDloadEngine& engine, PortAssignment& assignment,
                 const std::function<bool()>& stopRequested) {
    std::vector<DeviceMapEntry> map;
    if (!options.ports.empty()) {
        for (const auto& path : options.ports) {
            const std::string name = PortNameFor(path);
            if (name.empty()) {
                std::fprintf(stderr, "No COM number left for %s\n", path.c_str());
                return false;
            }
            map.push_back({"port", name});
            assignment.devices[PortNames::NumberFor(path)] = SerialDevice{"port", path, ""};
        }
        engine.OnPortSearch(map, "");
    } else if (options.search) {
        for (const auto& device : ListSerialDevices()) {
            map.push_back({device.deviceName, PortNameFor(device.node)});
            assignment.devices[PortNames::NumberFor(device.node)] = device;
        }
        engine.OnPortSearch(map, DeviceTag());
    } else {
        HotPlugWatch watch;
        if (!watch.Start()) {
            std::fprintf(stderr, "Cannot watch for arriving ports.\n");
            return false;
        }
        std::fprintf(stderr, "Waiting for %d port(s)...\n", options.waitPorts);
        int arrived = 0;
        for (int waited = 0; arrived < options.waitPorts && waited < options.waitSeconds * 10 &&
                             !stopRequested();
             ++waited) {
            pollfd pfd{watch.Fd(), POLLIN, 0};
            if (poll(&pfd, 1, 100) <= 0) {
                continue;
            }
            for (const auto& event : watch.ReadEvents()) {
                if (event.kind == HotPlugEvent::Kind::Arrival && arrived < options.waitPorts) {
                    engine.OnPortArrival(PortNameFor(event.device.node));
                    assignment.devices[PortNames::NumberFor(event.device.node)] = event.device;
                    ++arrived;
                }
            }
        }
    }
    if (engine.connectedCount() == 0) {
        std::fprintf(stderr, "No Phone is connected.\n");
        return false;
    }
    return true;
}

}  // namespace tarnflow::cli
