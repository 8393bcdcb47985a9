#include "platform/DeviceMap.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace tarnflow {

namespace fs = std::filesystem;

namespace {

std::string ReadFirstLine(const fs::path& path) {
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

std::string LinkBaseName(const fs::path& link) {
    std::error_code error;
    const fs::path target = fs::read_symlink(link, error);
    return error ? std::string() : target.filename().string();
}

// Walks up from a tty's device to the USB device (the one with idVendor), if there is one.
fs::path UsbDeviceOf(const fs::path& device) {
    std::error_code error;
    for (fs::path at = fs::canonical(device, error);
         !error && at.has_parent_path() && at != at.root_path(); at = at.parent_path()) {
        if (fs::exists(at / "idVendor", error)) {
            return at;
        }
    }
    return {};
}

// The driver of the device, or of the USB interface the tty hangs off.
std::string DriverOf(const fs::path& device) {
    std::error_code error;
    for (fs::path at = fs::canonical(device, error);
         !error && at.has_parent_path() && at != at.root_path(); at = at.parent_path()) {
        const std::string driver = LinkBaseName(at / "driver");
        if (!driver.empty()) {
            return driver;
        }
        if (fs::exists(at / "idVendor", error)) {
            break;
        }
    }
    return "unknown";
}

// A path in the style of udev's ID_PATH: the PCI function of the host controller and the USB
// port chain, e.g. "pci-0000:00:14.0-usb-0:1.2:1.0".
std::string PhysicalPathOf(const fs::path& device) {
    std::error_code error;
    const fs::path resolved = fs::canonical(device, error);
    if (error) {
        return {};
    }
    std::string pci;
    std::string usb;
    for (const auto& part : resolved) {
        const std::string name = part.string();
        if (name.size() == 12 && name[4] == ':' && name[7] == ':' && name[10] == '.') {
            pci = name;  // 0000:00:14.0
        } else if (!name.empty() && std::isdigit(static_cast<unsigned char>(name[0])) &&
                   name.find('-') != std::string::npos && name.find(':') == std::string::npos) {
            usb = name.substr(name.find('-') + 1);  // 1-1.2 -> port chain 1.2
        } else if (!usb.empty() && name.find(':') != std::string::npos &&
                   name.find('-') != std::string::npos) {
            usb += name.substr(name.find(':'));  // 1-1.2:1.0 -> interface :1.0
        }
    }
    if (pci.empty() && usb.empty()) {
        return resolved.string();
    }
    std::string path = pci.empty() ? "" : "pci-" + pci;
    if (!usb.empty()) {
        path += (path.empty() ? "" : "-") + std::string("usb-0:") + usb;
    }
    return path;
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
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::error_code linkError;
        if (!it->is_symlink(linkError)) {
            continue;
        }
        fs::path target = fs::read_symlink(it->path(), linkError);
        if (linkError) {
            continue;
        }
        if (target.is_relative()) {
            target = fs::path(folder) / target;
        }
        if (!fs::exists(target, linkError)) {
            continue;
        }
        devices.push_back({it->path().filename().string(), target.lexically_normal().string(), ""});
    }
    std::sort(devices.begin(), devices.end(), [](const SerialDevice& a, const SerialDevice& b) {
        return a.deviceName < b.deviceName;
    });
    return devices;
}

std::vector<SerialDevice> ListSysfsTty(const std::string& classFolder,
                                       const std::string& devFolder) {
    std::vector<SerialDevice> devices;
    std::error_code error;
    for (fs::directory_iterator it(classFolder, error), end; !error && it != end;
         it.increment(error)) {
        const fs::path device = it->path() / "device";
        std::error_code linkError;
        if (!fs::exists(device, linkError)) {
            continue;  // a virtual terminal: no hardware behind it
        }
        const std::string tty = it->path().filename().string();
        const std::string driver = DriverOf(device);
        // Legacy serial ports are listed whether or not a UART is there; type 0 means none.
        if (driver == "serial8250" && ReadFirstLine(it->path() / "type") == "0") {
            continue;
        }
        std::string name = driver + ":";
        const fs::path usb = UsbDeviceOf(device);
        if (!usb.empty()) {
            name += ReadFirstLine(usb / "idVendor") + ":" + ReadFirstLine(usb / "idProduct") + ":";
        }
        name += tty;
        devices.push_back({name, devFolder + "/" + tty, PhysicalPathOf(device)});
    }
    std::sort(devices.begin(), devices.end(),
              [](const SerialDevice& a, const SerialDevice& b) { return a.node < b.node; });
    return devices;
}

std::vector<SerialDevice> ListSerialDevices() {
    const std::string folder = DeviceMapFolder();
    return folder.empty() ? ListSysfsTty() : ListDeviceMapFolder(folder);
}

}  // namespace tarnflow
