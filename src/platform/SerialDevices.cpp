#include "platform/SerialDevices.h"

#include <libudev.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <memory>

namespace tarnflow {

namespace {

struct UdevDeleter {
    void operator()(udev* p) const { udev_unref(p); }
    void operator()(udev_device* p) const { udev_device_unref(p); }
    void operator()(udev_enumerate* p) const { udev_enumerate_unref(p); }
};
using UdevPtr = std::unique_ptr<udev, UdevDeleter>;
using UdevDevicePtr = std::unique_ptr<udev_device, UdevDeleter>;
using UdevEnumeratePtr = std::unique_ptr<udev_enumerate, UdevDeleter>;

std::string Text(const char* text) {
    return text != nullptr ? text : "";
}

std::string Property(const std::map<std::string, std::string>& properties, const char* name) {
    const auto it = properties.find(name);
    return it != properties.end() ? it->second : "";
}

// The driver of the device a tty hangs off, past the serial core's own port devices.
std::string ParentDriver(udev_device* device) {
    for (udev_device* at = udev_device_get_parent(device); at != nullptr;
         at = udev_device_get_parent(at)) {
        const std::string driver = Text(udev_device_get_driver(at));
        if (!driver.empty() && Text(udev_device_get_subsystem(at)) != "serial-base") {
            return driver;
        }
    }
    return "";
}

std::map<std::string, std::string> PropertiesOf(udev_device* device) {
    std::map<std::string, std::string> properties;
    for (udev_list_entry* entry = udev_device_get_properties_list_entry(device); entry != nullptr;
         entry = udev_list_entry_get_next(entry)) {
        properties[Text(udev_list_entry_get_name(entry))] = Text(udev_list_entry_get_value(entry));
    }
    return properties;
}

}  // namespace

SerialDevice DescribeUdevRecord(const UdevTtyRecord& record) {
    const auto& p = record.properties;
    SerialDevice serial;
    serial.node = record.node.empty() ? "/dev/" + record.sysname : record.node;
    std::string driver = Property(p, "ID_USB_DRIVER");
    if (driver.empty()) {
        driver = record.parentDriver.empty() ? "unknown" : record.parentDriver;
    }
    serial.deviceName = driver + ":";
    const std::string vendor = Property(p, "ID_VENDOR_ID");
    if (Property(p, "ID_BUS") == "usb" && !vendor.empty()) {
        serial.usb =
            UsbIdentity{vendor, Property(p, "ID_MODEL_ID"), Property(p, "ID_SERIAL_SHORT")};
        serial.deviceName += vendor + ":" + serial.usb->productId + ":";
        serial.physicalPath = Property(p, "ID_PATH");
    }
    serial.deviceName += record.sysname;
    if (serial.physicalPath.empty()) {
        serial.physicalPath = record.syspath;
    }
    return serial;
}

std::optional<SerialDevice> DescribeUdevTty(udev_device* device, UdevSource source) {
    // Virtual terminals have no parent device; they are not serial ports.
    if (device == nullptr || udev_device_get_parent(device) == nullptr) {
        return std::nullopt;
    }
    const std::string syspath = Text(udev_device_get_syspath(device));
    if (source == UdevSource::Database && udev_device_get_is_initialized(device) == 0) {
        return DescribeSysfsTty(syspath);  // udev has not processed it: it may not be running
    }
    if (Text(udev_device_get_sysattr_value(device, "type")) == "0") {
        return std::nullopt;  // a serial-core port where no UART answers
    }
    return DescribeUdevRecord({Text(udev_device_get_sysname(device)), syspath,
                               Text(udev_device_get_devnode(device)), ParentDriver(device),
                               PropertiesOf(device)});
}

std::vector<SerialDevice> ListUdevTty() {
    const UdevPtr context(udev_new());
    const UdevEnumeratePtr enumerate(context ? udev_enumerate_new(context.get()) : nullptr);
    if (!enumerate || udev_enumerate_add_match_subsystem(enumerate.get(), "tty") < 0 ||
        udev_enumerate_scan_devices(enumerate.get()) < 0) {
        return ListSysfsTty();
    }
    std::vector<SerialDevice> devices;
    for (udev_list_entry* entry = udev_enumerate_get_list_entry(enumerate.get()); entry != nullptr;
         entry = udev_list_entry_get_next(entry)) {
        const UdevDevicePtr device(
            udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
        if (auto serial = DescribeUdevTty(device.get(), UdevSource::Database)) {
            devices.push_back(std::move(*serial));
        }
    }
    SortByNode(devices);
    return devices;
}

std::optional<SerialDevice> IdentifyNode(const std::string& node) {
    struct stat info {};
    if (node.empty() || stat(node.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) {
        return std::nullopt;
    }
    const UdevPtr context(udev_new());
    if (!context) {
        return DescribeSysfsTty("/sys/dev/char/" + std::to_string(major(info.st_rdev)) + ":" +
                                std::to_string(minor(info.st_rdev)));
    }
    const UdevDevicePtr device(udev_device_new_from_devnum(context.get(), 'c', info.st_rdev));
    if (!device || Text(udev_device_get_subsystem(device.get())) != "tty") {
        return std::nullopt;
    }
    return DescribeUdevTty(device.get(), UdevSource::Database);
}

void AddNodeIdentity(SerialDevice& device) {
    if (auto identity = IdentifyNode(device.node)) {
        device.physicalPath = identity->physicalPath;
        device.usb = identity->usb;
    }
}

std::vector<SerialDevice> ListSerialDevices() {
    const std::string folder = DeviceMapFolder();
    if (folder.empty()) {
        return ListUdevTty();
    }
    std::vector<SerialDevice> devices = ListDeviceMapFolder(folder);
    for (auto& device : devices) {
        AddNodeIdentity(device);
    }
    return devices;
}

}  // namespace tarnflow
