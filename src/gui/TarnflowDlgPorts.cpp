// Port discovery: Port Search over the device map, and ports arriving and leaving.
#include <QSocketNotifier>

#include "engine/PortNumbers.h"
#include "gui/TarnflowDlg.h"
#include "platform/SerialDevices.h"

namespace tarnflow {

void CTarnflowDlg::StartHotPlugWatch() {
    if (!hotPlug_.Start()) {
        return;  // no device-map folder and no udev: Port Search still works
    }
    hotPlugNotifier_ = new QSocketNotifier(hotPlug_.Fd(), QSocketNotifier::Read, this);
    connect(hotPlugNotifier_, &QSocketNotifier::activated, this, &CTarnflowDlg::OnHotPlug);
}

void CTarnflowDlg::OnPortSearch() {
    std::vector<DeviceMapEntry> map;
    for (const auto& device : ListSerialDevices()) {
        const std::string port = PortNameFor(device);
        if (!port.empty()) {  // a device without a number cannot be opened
            map.push_back({device.deviceName, port});
        }
    }
    engine_->OnPortSearch(map, DeviceTag());
}

void CTarnflowDlg::OnHotPlug() {
    for (const auto& event : hotPlug_.ReadEvents()) {
        const std::string port = PortNameFor(event.device);
        if (port.empty()) {
            continue;
        }
        if (event.kind == HotPlugEvent::Kind::Arrival) {
            engine_->OnPortArrival(port);
        } else {
            engine_->OnPortRemoval(port);
        }
    }
}

}  // namespace tarnflow
