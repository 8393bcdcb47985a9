// Port discovery: Port Search over the device map, and ports arriving and leaving.
#include "comm/Registry.h"
#include "gui/TarnflowDlg.h"
#include "platform/DeviceMap.h"
#include "platform/PortNames.h"

namespace tarnflow {

namespace {
constexpr const char* kPortSection = "PORTS";
}  // namespace

// The COM number of a device. On real hardware the number a USB socket had before is asked for
// again, so "Entry 5 (COM7)" stays the same socket of the rig from day to day.
std::string CTarnflowDlg::PortNameFor(const SerialDevice& device) {
    int preferred = 0;
    if (!device.physicalPath.empty()) {
        preferred =
            std::atoi(CRegistry::ReadSectionString(kPortSection, device.physicalPath).c_str());
    }
    const int number = PortNames::NumberFor(device.node, preferred);
    if (number == 0) {
        return "";
    }
    if (!device.physicalPath.empty() && number != preferred) {
        CRegistry::WriteSectionString(kPortSection, device.physicalPath, std::to_string(number));
    }
    return PortNames::PortName(number);
}

void CTarnflowDlg::OnPortSearch() {
    std::vector<DeviceMapEntry> map;
    for (const auto& device : ListSerialDevices()) {
        map.push_back({device.deviceName, PortNameFor(device)});
    }
    engine_->OnPortSearch(map, DeviceTag());
}

void CTarnflowDlg::OnHotPlug() {
    for (const auto& event : hotPlug_.ReadEvents()) {
        const std::string name = PortNameFor(event.device);
        if (event.kind == HotPlugEvent::Kind::Arrival) {
            engine_->OnPortArrival(name);
        } else {
            engine_->OnPortRemoval(name);
        }
    }
}

}  // namespace tarnflow
