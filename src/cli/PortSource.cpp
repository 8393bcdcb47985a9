#include "cli/PortSource.h"

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "engine/PortNumbers.h"
#include "platform/HotPlugWatch.h"
#include "platform/PortNames.h"
#include "platform/SerialDevices.h"

namespace tarnflow::cli {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kStopPollInterval{100};

// The same filter as Port Search: a device name containing the driver tag.
bool Tagged(const SerialDevice& device, const std::string& tag) {
    return device.deviceName.find(tag) != std::string::npos;
}

// Which phone a device is. A phone plugged in again may get another node and, under udev, a
// device name built from that node; the socket it is plugged into stays, so the physical path
// names it when known. Otherwise its name in the device map does: in a device-map folder the
// link name, which the phone's link keeps across a replug.
std::string Identity(const SerialDevice& device) {
    return device.physicalPath.empty() ? device.deviceName : device.physicalPath;
}

bool EntryHolds(const CDloadEngine& engine, int number) {
    return std::any_of(engine.entries.begin(), engine.entries.end(),
                       [number](const EntryRecord& e) { return e.comPort == number; });
}

// The tagged phones present while the command line waits for `wanted` of them, each holding an
// entry.
class PresentPhones {
  public:
    PresentPhones(CDloadEngine& engine, PortAssignment& assignment, int wanted)
        : engine_(engine), assignment_(assignment), tag_(DeviceTag()), wanted_(wanted) {}

    int Count() const { return static_cast<int>(present_.size()); }
    bool Enough() const { return Count() >= wanted_; }

    void Arrive(const SerialDevice& device) {
        if (!Tagged(device, tag_)) {
            return;
        }
        const auto it = present_.find(Identity(device));
        if (it != present_.end()) {
            if (it->second.node == device.node) {
                return;  // seen twice: listed at the start and reported by the watch
            }
            Leave(SerialDevice(it->second));  // back on another node before its removal came
        }
        if (PortNameFor(device).empty()) {
            std::fprintf(stderr, "No COM number left for %s\n", device.node.c_str());
            return;
        }
        const int number = PortNames::NumberFor(device.node);
        // The engine refuses a port an entry holds already, and any port once all are taken.
        const bool held = EntryHolds(engine_, number);
        engine_.OnPortArrival(PortNames::PortName(number));
        if (held || !EntryHolds(engine_, number)) {
            return;
        }
        present_[Identity(device)] = device;
        assignment_.devices[number] = device;
    }

    // Only the node the phone was counted on: a removal of an older node changes nothing.
    void Leave(const SerialDevice& device) {
        const auto it = present_.find(Identity(device));
        if (it == present_.end() || it->second.node != device.node) {
            return;
        }
        const int number = PortNames::NumberFor(device.node);
        engine_.OnPortRemoval(PortNames::PortName(number));
        assignment_.devices.erase(number);
        present_.erase(it);
    }

  private:
    CDloadEngine& engine_;
    PortAssignment& assignment_;
    std::string tag_;
    int wanted_;
    std::map<std::string, SerialDevice> present_;  // by Identity()
};

bool AssignGivenPorts(const std::vector<std::string>& paths, CDloadEngine& engine,
                      PortAssignment& assignment) {
    std::vector<DeviceMapEntry> map;
    for (const auto& path : paths) {
        SerialDevice device{"port", path, "", {}};
        AddNodeIdentity(device);
        const std::string name = PortNameFor(device);
        if (name.empty()) {
            std::fprintf(stderr, "No COM number left for %s\n", path.c_str());
            return false;
        }
        map.push_back({"port", name});
        assignment.devices[PortNames::NumberFor(path)] = device;
    }
    engine.OnPortSearch(map, "");
    return true;
}

void PrintLeftOut(const std::vector<SerialDevice>& leftOut) {
    std::string names;
    for (const auto& device : leftOut) {
        names += (names.empty() ? "" : ", ") + device.deviceName + " (" + device.node + ")";
    }
    std::fprintf(stderr, "All %d entries are taken; left out: %s\n", kEntryCount, names.c_str());
}

void SearchPorts(CDloadEngine& engine, PortAssignment& assignment) {
    const std::string tag = DeviceTag();
    std::vector<DeviceMapEntry> map;
    std::vector<SerialDevice> leftOut;
    int tagged = 0;
    for (const auto& device : ListSerialDevices()) {
        const std::string name = PortNameFor(device);
        map.push_back({device.deviceName, name});
        if (!Tagged(device, tag)) {
            continue;
        }
        // The engine gives the entries to the first tagged devices in the map's order.
        if (tagged++ >= kEntryCount) {
            leftOut.push_back(device);
        } else if (!name.empty()) {
            assignment.devices[PortNames::NumberFor(device.node)] = device;
        }
    }
    engine.OnPortSearch(map, tag);
    if (!leftOut.empty()) {
        PrintLeftOut(leftOut);
    }
}

// The wait ends the moment enough phones are present; what comes after, even in the same
// batch, is left to the download.
void ApplyEvents(const std::vector<HotPlugEvent>& events, PresentPhones& phones) {
    for (const auto& event : events) {
        if (phones.Enough()) {
            return;
        }
        if (event.kind == HotPlugEvent::Kind::Arrival) {
            phones.Arrive(event.device);
        } else {
            phones.Leave(event.device);
        }
    }
}

std::string Shortfall(int present, const CliOptions& options, bool stopped) {
    char text[128];
    if (stopped) {
        std::snprintf(text, sizeof text,
                      "Only %d of %d phones arrived before the wait was stopped.", present,
                      options.waitPorts);
    } else {
        std::snprintf(text, sizeof text, "Only %d of %d phones arrived within %d s.", present,
                      options.waitPorts, options.waitSeconds);
    }
    return text;
}

// Phones plugged in before the command started count, the first in the map's order. Listed
// after the watch has started, so that no phone falls between the two; one seen by both counts
// once.
void CountPresent(PresentPhones& phones) {
    for (const auto& device : ListSerialDevices()) {
        if (phones.Enough()) {
            return;
        }
        phones.Arrive(device);
    }
}

// Until the watch has events, the deadline passes or it is time to look for a stop again.
void AwaitEvents(const HotPlugWatch& watch, Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd pfd{watch.Fd(), POLLIN, 0};
    poll(&pfd, 1,
         static_cast<int>(
             std::clamp(left, std::chrono::milliseconds(0), kStopPollInterval).count()));
}

bool WaitForPorts(const CliOptions& options, CDloadEngine& engine, PortAssignment& assignment,
                  const std::function<bool()>& stopRequested) {
    HotPlugWatch watch;
    if (!watch.Start()) {
        std::fprintf(stderr, "Cannot watch for arriving ports.\n");
        return false;
    }
    PresentPhones phones(engine, assignment, options.waitPorts);
    CountPresent(phones);
    if (!phones.Enough()) {
        std::fprintf(stderr, "Waiting for %d phone(s), %d present...\n", options.waitPorts,
                     phones.Count());
    }
    const auto deadline = Clock::now() + std::chrono::seconds(options.waitSeconds);
    bool stopped = false;
    while (!phones.Enough() && Clock::now() < deadline && !(stopped = stopRequested())) {
        AwaitEvents(watch, deadline);
        ApplyEvents(watch.ReadEvents(), phones);
    }
    if (phones.Count() > 0 && !phones.Enough()) {
        assignment.shortfall = Shortfall(phones.Count(), options, stopped);
        std::fprintf(stderr, "%s\n", assignment.shortfall.c_str());
    }
    return true;
}

}  // namespace

bool AssignPorts(const CliOptions& options, CDloadEngine& engine, PortAssignment& assignment,
                 const std::function<bool()>& stopRequested) {
    if (!options.ports.empty()) {
        if (!AssignGivenPorts(options.ports, engine, assignment)) {
            return false;
        }
    } else if (options.search) {
        SearchPorts(engine, assignment);
    } else if (!WaitForPorts(options, engine, assignment, stopRequested)) {
        return false;
    }
    if (engine.connectedCount() == 0) {
        std::fprintf(stderr, "No Phone is connected.\n");
        return false;
    }
    return true;
}

}  // namespace tarnflow::cli
