#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/DeviceMap.h"

struct udev_device;

namespace tarnflow {

// A tty as udev knows it: its place in sysfs and the properties udev's rules gave it.
struct UdevTtyRecord {
    std::string sysname;       // e.g. "ttyACM0"
    std::string syspath;       // e.g. "/sys/devices/pci0000:00/.../tty/ttyACM0"
    std::string node;          // e.g. "/dev/ttyACM0"; empty when udev names none
    std::string parentDriver;  // the driver of the nearest parent that has one
    std::map<std::string, std::string> properties;  // ID_PATH, ID_VENDOR_ID, ...
};

// The device Port Search sees in a udev record. A USB device (ID_BUS "usb") is named
// driver:vendor:product:tty from ID_USB_DRIVER, ID_VENDOR_ID and ID_MODEL_ID, its socket is
// ID_PATH (as /dev/serial/by-path names it) and its serial ID_SERIAL_SHORT. Any other tty is
// named driver:tty and placed by its sysfs path, since one parent may serve several ports.
SerialDevice DescribeUdevRecord(const UdevTtyRecord& record);

// Where a udev device's properties come from: udev's database, which is there only for devices
// udev has processed, or an event of the udev monitor, which carries them.
enum class UdevSource { Database, Event };

// A tty device from libudev as Port Search sees it. Nothing for a virtual terminal or a
// serial-core port without a UART. A device udev has no record of (udev not running) is
// described from sysfs, the same way udev would.
std::optional<SerialDevice> DescribeUdevTty(udev_device* device, UdevSource source);

// Every serial device of the tty subsystem, in natural order of the nodes. Falls back to the
// sysfs walk when libudev cannot list devices at all.
std::vector<SerialDevice> ListUdevTty();

// The serial device behind a device node (links followed), for its socket and USB identity.
// Nothing for a node that is not a tty with hardware behind it, a pseudo-terminal for one.
std::optional<SerialDevice> IdentifyNode(const std::string& node);

// Gives a device known by name and node (a device-map link, a port named on the command line)
// the socket and USB identity of the tty behind its node, when there is one.
void AddNodeIdentity(SerialDevice& device);

// The device map Port Search reads: the links of the device-map folder when one is set, with
// the identity of the ttys they lead to, else every tty of udev (sysfs where udev does not run).
std::vector<SerialDevice> ListSerialDevices();

}  // namespace tarnflow
