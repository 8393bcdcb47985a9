#include "cli/PortList.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "engine/PortNumbers.h"
#include "platform/SerialDevices.h"

namespace tarnflow::cli {

namespace {

constexpr std::size_t kColumns = 7;
using Line = std::array<std::string, kColumns>;

std::string OrDash(const std::string& text) {
    return text.empty() ? "-" : text;
}

Line LineOf(const PortListRow& row) {
    const SerialDevice& d = row.device;
    const std::string usb = d.usb ? d.usb->vendorId + ":" + d.usb->productId : "";
    const std::string serial = d.usb ? d.usb->serial : "";
    return {d.deviceName, d.node,         OrDash(row.portName),     OrDash(d.physicalPath),
            OrDash(usb),  OrDash(serial), row.tagged ? "yes" : "no"};
}

// Columns padded to their widest cell, two spaces apart; the last one is not padded.
std::string Aligned(const std::vector<Line>& lines) {
    std::array<std::size_t, kColumns> width{};
    for (const Line& line : lines) {
        for (std::size_t c = 0; c < kColumns; ++c) {
            width[c] = std::max(width[c], line[c].size());
        }
    }
    std::string text;
    for (const Line& line : lines) {
        for (std::size_t c = 0; c + 1 < kColumns; ++c) {
            text += line[c] + std::string(width[c] - line[c].size() + 2, ' ');
        }
        text += line[kColumns - 1] + "\n";
    }
    return text;
}

}  // namespace

std::string FormatPortList(const std::vector<PortListRow>& rows, const std::string& source,
                           const std::string& tag) {
    std::string text = "Device map: " + source + "\n";
    if (rows.empty()) {
        return text + "No serial device found.\n";
    }
    std::vector<Line> lines{{"DEVICE", "NODE", "COM", "SOCKET", "VID:PID", "SERIAL", "TAG"}};
    int tagged = 0;
    for (const PortListRow& row : rows) {
        lines.push_back(LineOf(row));
        tagged += row.tagged ? 1 : 0;
    }
    text += Aligned(lines);
    return text + std::to_string(tagged) + " of " + std::to_string(rows.size()) +
           " devices carry the driver tag \"" + tag + "\"; Port Search takes them in this order.\n";
}

int ListPorts() {
    const std::string tag = DeviceTag();
    const std::string folder = DeviceMapFolder();
    std::vector<PortListRow> rows;
    for (const auto& device : ListSerialDevices()) {
        rows.push_back(
            {device, PortNameFor(device), device.deviceName.find(tag) != std::string::npos});
    }
    const std::string source =
        folder.empty() ? "udev's tty devices" : folder + " (TARNFLOW_DEVICE_MAP)";
    std::fputs(FormatPortList(rows, source, tag).c_str(), stdout);
    return 0;
}

}  // namespace tarnflow::cli
