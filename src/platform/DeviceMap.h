#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tarnflow {

// The USB identity of a device, as its descriptors give it.
struct UsbIdentity {
    std::string vendorId;   // four hex digits, e.g. "1004"
    std::string productId;  // four hex digits
    std::string serial;     // the serial number string; empty when the device has none
};

// One serial device as the system lists it.
struct SerialDevice {
    std::string deviceName;    // driver and identity, e.g. "cdc_acm:1004:633e:ttyACM0", or the
                               // link name in a device-map folder, e.g. "tfusbmd00"
    std::string node;          // device node, e.g. "/dev/ttyACM0" or "/dev/pts/5"
    std::string physicalPath;  // where it is plugged in (udev ID_PATH style); empty if unknown
    std::optional<UsbIdentity> usb;  // for a USB device found in sysfs
};

inline constexpr const char* kDefaultDeviceTag = "tfusbmd";

// The device-map folder named by TARNFLOW_DEVICE_MAP, or empty when the variable is not set.
std::string DeviceMapFolder();

// The driver tag Port Search filters by: TARNFLOW_DEVICE_TAG, else "tfusbmd".
std::string DeviceTag();

// Every entry of a device-map folder (a symbolic link named after the device whose target is
// its node), sorted by name. Entries whose target does not exist are left out. Names and
// targets of any length are handled.
std::vector<SerialDevice> ListDeviceMapFolder(const std::string& folder);

// The serial devices under a sysfs tty class folder that have a device behind them (real
// hardware), with names built from the driver and USB identity. Sorted by node.
std::vector<SerialDevice> ListSysfsTty(const std::string& classFolder = "/sys/class/tty",
                                       const std::string& devFolder = "/dev");

// The device map Port Search reads: the device-map folder when one is set, else sysfs.
std::vector<SerialDevice> ListSerialDevices();

}  // namespace tarnflow
