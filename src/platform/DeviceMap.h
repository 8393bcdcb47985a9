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
    std::optional<UsbIdentity> usb;  // for a USB device
};

inline constexpr const char* kDefaultDeviceTag = "tfusbmd";

// The device-map folder named by TARNFLOW_DEVICE_MAP, or empty when the variable is not set.
std::string DeviceMapFolder();

// The driver tag Port Search filters by: TARNFLOW_DEVICE_TAG, else "tfusbmd".
std::string DeviceTag();

// Every entry of a device-map folder (a symbolic link named after the device whose target is
// its node), in natural order of the names (tfusbmd2 before tfusbmd10). Entries whose target
// does not exist are left out. Names and targets of any length are handled. Only name and node
// are filled.
std::vector<SerialDevice> ListDeviceMapFolder(const std::string& folder);

// The tty whose sysfs folder is `ttyFolder` (a class entry such as /sys/class/tty/ttyACM0, or
// the device's own folder), named from its driver and USB identity, with its physical path
// walked up the device tree. Nothing for a tty without hardware behind it (a virtual terminal)
// or a serial-core port where no UART answers. This is the source where udev does not run.
std::optional<SerialDevice> DescribeSysfsTty(const std::string& ttyFolder,
                                             const std::string& devFolder = "/dev");

// Every tty under a sysfs tty class folder that DescribeSysfsTty() describes, in natural
// order of the nodes (ttyACM2 before ttyACM10).
std::vector<SerialDevice> ListSysfsTty(const std::string& classFolder = "/sys/class/tty",
                                       const std::string& devFolder = "/dev");

// Sorts devices in natural order of their nodes.
void SortByNode(std::vector<SerialDevice>& devices);

}  // namespace tarnflow
