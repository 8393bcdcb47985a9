#include "platform/DeviceMap.h"

#include "platform/NaturalOrder.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace tarnflow {

namespace fs = std::filesystem;

namespace {

// The first line of a sysfs attribute, "" when it cannot be read.
std::string ReadAttribute(const fs::path& path) {
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

// The last part of a link's target ("" when there is no such link), as sysfs names drivers
// and subsystems.
std::string LinkName(const fs::path& link) {
    std::error_code error;
    const fs::path target = fs::read_symlink(link, error);
    return error ? std::string() : target.filename().string();
}

std::string SubsystemOf(const fs::path& device) {
    return LinkName(device / "subsystem");
}

bool IsUsbDevice(const fs::path& device) {
    std::error_code error;
    return fs::exists(device / "idVendor", error);
}

// The walk up the device tree ends at the top of sysfs' device folder.
bool IsTop(const fs::path& at) {
    return at.empty() || at == at.root_path() || at.filename() == "devices";
}

// The driver serving a tty: the device's own, or for ports layered on a bus of their own (the
// serial core's port devices) the first driver found on the way up to the hardware; never
// beyond the USB device.
std::string DriverOf(const fs::path& device) {
    for (fs::path at = device; !IsTop(at) && !IsUsbDevice(at); at = at.parent_path()) {
        const std::string driver = LinkName(at / "driver");
        if (!driver.empty() && SubsystemOf(at) != "serial-base") {
            return driver;
        }
    }
    return "unknown";
}

fs::path UsbDeviceOf(const fs::path& device) {
    for (fs::path at = device; !IsTop(at); at = at.parent_path()) {
        if (IsUsbDevice(at)) {
            return at;
        }
    }
    return {};
}

// Where a USB tty is plugged in, in the form udev gives as ID_PATH: from the tty up, the nearest
// platform device, the nearest PCI function and the USB port chain with the interface, e.g.
// "pci-0000:00:14.0-usb-0:1.2:1.0". Empty for devices without a USB ancestor: their parents
// (an 8250 platform device, say) serve several ports and would not tell them apart.
std::string UdevStylePath(const fs::path& device) {
    std::string path;
    bool usb = false;
    std::string passing;  // a chain of parents of one subsystem is named by its nearest member
    for (fs::path at = device; !IsTop(at); at = at.parent_path()) {
        const std::string subsystem = SubsystemOf(at);
        if (subsystem == passing) {
            continue;
        }
        passing.clear();
        const std::string name = at.filename().string();
        std::string part;
        if (subsystem == "usb" && name.find('-') != std::string::npos) {
            part = "usb-0:" + name.substr(name.find('-') + 1);  // 1-1.2:1.0 -> usb-0:1.2:1.0
            usb = true;
        } else if (subsystem == "pci" || subsystem == "platform") {
            part = subsystem + "-" + name;
        } else {
            continue;
        }
        path = path.empty() ? part : part + "-" + path;
        passing = subsystem;
    }
    return usb ? path : std::string();
}

// The node of a tty: sysfs writes the '/' of names such as "tts/0" as '!'.
std::string NodeOf(const std::string& devFolder, std::string name) {
    std::replace(name.begin(), name.end(), '!', '/');
    return devFolder + "/" + name;
}

}  // namespace

std::string DeviceMapFolder() {
    const char* folder = std::getenv("TARNFLOW_DEVICE_MAP");
    return folder != nullptr ? folder : "";
}

std::string DeviceTag() {
    const char* tag = std::getenv("TARNFLOW_DEVICE_TAG");
    return tag != nullptr && *tag != '\0' ? tag : kDefaultDeviceTag;
}

std::vector<SerialDevice> ListDeviceMapFolder(const std::string& folder) {
    std::vector<SerialDevice> devices;
    std::error_code error;
    const fs::path base = fs::absolute(folder, error);
    if (error) {
        return devices;
    }
    for (fs::directory_iterator it(base, error), end; !error && it != end; it.increment(error)) {
        std::error_code entryError;
        if (!it->is_symlink(entryError) || !fs::exists(it->path(), entryError)) {
            continue;  // not a link, or a link whose node is gone
        }
        fs::path target = fs::read_symlink(it->path(), entryError);
        if (entryError) {
            continue;
        }
        devices.push_back(
            {it->path().filename().string(), (base / target).lexically_normal().string(), "", {}});
    }
    std::sort(devices.begin(), devices.end(), [](const SerialDevice& a, const SerialDevice& b) {
        return NaturalLess(a.deviceName, b.deviceName);
    });
    return devices;
}

std::optional<SerialDevice> DescribeSysfsTty(const std::string& ttyFolder,
                                             const std::string& devFolder) {
    std::error_code error;
    const fs::path tty = fs::canonical(ttyFolder, error);
    if (error) {
        return std::nullopt;
    }
    const fs::path device = fs::canonical(tty / "device", error);
    if (error) {
        return std::nullopt;  // a virtual terminal: no hardware behind it
    }
    // The serial core lists its ports whether or not a UART answers there; type 0 is none.
    if (ReadAttribute(tty / "type") == "0") {
        return std::nullopt;
    }
    const std::string name = tty.filename().string();
    SerialDevice serial;
    serial.deviceName = DriverOf(device) + ":";
    if (const fs::path usb = UsbDeviceOf(device); !usb.empty()) {
        serial.usb = UsbIdentity{ReadAttribute(usb / "idVendor"), ReadAttribute(usb / "idProduct"),
                                 ReadAttribute(usb / "serial")};
        serial.deviceName += serial.usb->vendorId + ":" + serial.usb->productId + ":";
    }
    serial.deviceName += name;
    serial.node = NodeOf(devFolder, name);
    serial.physicalPath = UdevStylePath(device);
    if (serial.physicalPath.empty()) {
        serial.physicalPath = tty.string();
    }
    return serial;
}

std::vector<SerialDevice> ListSysfsTty(const std::string& classFolder,
                                       const std::string& devFolder) {
    std::vector<SerialDevice> devices;
    std::error_code error;
    for (fs::directory_iterator it(classFolder, error), end; !error && it != end;
         it.increment(error)) {
        if (auto device = DescribeSysfsTty(it->path().string(), devFolder)) {
            devices.push_back(std::move(*device));
        }
    }
    SortByNode(devices);
    return devices;
}

void SortByNode(std::vector<SerialDevice>& devices) {
    std::sort(devices.begin(), devices.end(), [](const SerialDevice& a, const SerialDevice& b) {
        return NaturalLess(a.node, b.node);
    });
}

}  // namespace tarnflow
