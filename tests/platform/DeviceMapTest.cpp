#include "platform/DeviceMap.h"
#include "platform/SerialDevices.h"
#include "support/ScopedEnv.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>

namespace tarnflow {
namespace {

namespace fs = std::filesystem;

using testing::ScopedEnv;

class TempFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/tarnflow-devmap-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
    }
    void TearDown() override { fs::remove_all(root); }

    fs::path File(const fs::path& path, const std::string& text = "x") {
        fs::create_directories(path.parent_path());
        std::ofstream(path) << text;
        return path;
    }

    fs::path root;
};

using DeviceMapFolderTest = TempFolder;

TEST_F(DeviceMapFolderTest, ListsLinksToExistingNodesInNaturalOrder) {
    const fs::path map = root / "map";
    fs::create_directories(map / "subfolder");
    fs::create_symlink(File(root / "nodes/b"), map / "tfusbmd10");
    fs::create_symlink(File(root / "nodes/a"), map / "tfusbmd0");
    fs::create_symlink(File(root / "nodes/c"), map / "serial-other");
    fs::create_symlink("../nodes/d", map / "tfusbmd2");  // relative: from the folder
    File(root / "nodes/d");
    fs::create_symlink(File(root / "nodes/e"), map / "modem");
    fs::create_symlink(root / "nodes/gone", map / "tfusbmd03");  // node missing: left out
    File(map / "readme");                                        // not a link: left out

    const auto devices = ListDeviceMapFolder(map.string());
    std::vector<std::pair<std::string, std::string>> got;
    for (const auto& device : devices) {
        got.emplace_back(device.deviceName, device.node);
        EXPECT_EQ(device.physicalPath, "");
    }
    const std::string nodes = (root / "nodes").string() + "/";
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"modem", nodes + "e"},    {"serial-other", nodes + "c"}, {"tfusbmd0", nodes + "a"},
        {"tfusbmd2", nodes + "d"}, {"tfusbmd10", nodes + "b"},
    };
    EXPECT_EQ(got, expected);
    EXPECT_EQ(std::count_if(devices.begin(), devices.end(),
                            [](const SerialDevice& d) {
                                return d.deviceName.find(kDefaultDeviceTag) != std::string::npos;
                            }),
              3);
}

TEST_F(DeviceMapFolderTest, LongNamesAndTargetsAreKeptWhole) {
    // A folder entry's name holds at most 255 bytes; a link's target up to 4095.
    const fs::path map = root / "map";
    fs::create_directories(map);
    fs::path deep = root;
    for (int i = 0; i < 12; ++i) {
        deep /= std::string(200, static_cast<char>('a' + i));
    }
    const fs::path node = File(deep / "node");
    ASSERT_GT(node.string().size(), 2400u);
    const std::string name = "tfusbmd-" + std::string(247, 'n');
    fs::create_symlink(node, map / name);

    const auto devices = ListDeviceMapFolder(map.string());
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].deviceName, name);
    EXPECT_EQ(devices[0].node, node.string());
}

TEST_F(DeviceMapFolderTest, MissingFolderListsNothing) {
    EXPECT_TRUE(ListDeviceMapFolder((root / "no-such-folder").string()).empty());
    EXPECT_TRUE(ListDeviceMapFolder(File(root / "plain").string()).empty());
}

TEST_F(DeviceMapFolderTest, EnvironmentChoosesTheSourceAndTheTag) {
    {
        ScopedEnv tag("TARNFLOW_DEVICE_TAG", nullptr);
        EXPECT_EQ(DeviceTag(), "tfusbmd");
    }
    {
        ScopedEnv tag("TARNFLOW_DEVICE_TAG", "cdc_acm:1004");
        EXPECT_EQ(DeviceTag(), "cdc_acm:1004");
    }
    fs::create_symlink(File(root / "nodes/a"), root / "tfusbmd00");
    ScopedEnv map("TARNFLOW_DEVICE_MAP", root.c_str());
    EXPECT_EQ(DeviceMapFolder(), root.string());
    const auto devices = ListSerialDevices();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].deviceName, "tfusbmd00");
}

// A small sysfs: devices with their subsystem and driver links, ttys listed in a class folder.
class FakeSysfs : public TempFolder {
  protected:
    fs::path Device(const fs::path& path, const std::string& subsystem,
                    const std::string& driver = "") {
        fs::create_directories(path);
        fs::create_directories(root / "bus" / subsystem / "drivers");
        fs::create_directory_symlink(root / "bus" / subsystem, path / "subsystem");
        if (!driver.empty()) {
            const fs::path folder = root / "bus" / subsystem / "drivers" / driver;
            fs::create_directories(folder);
            fs::create_directory_symlink(folder, path / "driver");
        }
        return path;
    }
    fs::path UsbDevice(const fs::path& path, const std::string& vendor,
                       const std::string& product) {
        Device(path, "usb", "usb");
        File(path / "idVendor", vendor + "\n");
        File(path / "idProduct", product + "\n");
        return path;
    }
    // A tty as sysfs shows it: its own folder below its parent (none for a virtual terminal),
    // and an entry of the class folder linked to it.
    fs::path Tty(const fs::path& parent, const std::string& name, const std::string& type = "") {
        const fs::path tty = parent / "tty" / name;
        fs::create_directories(tty);
        if (parent != Devices() / "virtual") {
            fs::create_directory_symlink(parent, tty / "device");
        }
        if (!type.empty()) {
            File(tty / "type", type + "\n");
        }
        fs::create_directories(ClassFolder());
        fs::create_directory_symlink(tty, ClassFolder() / name);
        return tty;
    }
    fs::path Devices() { return root / "devices"; }
    fs::path ClassFolder() { return root / "class/tty"; }
};

TEST_F(FakeSysfs, TtysWithHardwareAreNamedByDriverAndUsbIdentity) {
    const fs::path pci = Device(Devices() / "pci0000:00/0000:00:14.0", "pci", "xhci_hcd");
    UsbDevice(pci / "usb1", "1d6b", "0002");
    const fs::path hub = UsbDevice(pci / "usb1/1-1", "05e3", "0608");
    // A USB modem: the tty hangs off the interface the driver serves.
    const fs::path modem = UsbDevice(hub / "1-1.2", "1004", "633e");
    File(modem / "serial", "LGF300K12345\n");
    Tty(Device(modem / "1-1.2:1.0", "usb", "cdc_acm"), "ttyACM0");
    // Two more phones: their nodes are listed in natural order, ttyACM2 before ttyACM10.
    const fs::path second = UsbDevice(hub / "1-1.10", "1004", "633e");
    Tty(Device(second / "1-1.10:1.0", "usb", "cdc_acm"), "ttyACM10");
    const fs::path third = UsbDevice(hub / "1-1.4", "1004", "633e");
    Tty(Device(third / "1-1.4:1.0", "usb", "cdc_acm"), "ttyACM2");
    // A USB serial converter: a port device of its own between interface and tty.
    const fs::path converter = UsbDevice(hub / "1-1.3", "0403", "6001");
    const fs::path interface = Device(converter / "1-1.3:1.0", "usb", "ftdi_sio");
    Tty(Device(interface / "ttyUSB0", "usb-serial", "ftdi_sio"), "ttyUSB0");
    // A UART found by the firmware, below the serial core's own port devices.
    const fs::path pnp = Device(Devices() / "pnp0/00:00", "pnp", "serial");
    const fs::path port = Device(pnp / "00:00:0/00:00:0.0", "serial-base", "port");
    Device(pnp / "00:00:0", "serial-base", "ctrl");
    const fs::path uart = Tty(port, "ttyS0", "4");
    // A legacy port where no UART answers, and a virtual terminal: not listed.
    Tty(Device(Devices() / "platform/serial8250", "platform", "serial8250"), "ttyS1", "0");
    Tty(Devices() / "virtual", "tty1");

    const auto devices = ListSysfsTty(ClassFolder().string(), "/fakedev");
    ASSERT_EQ(devices.size(), 5u);
    EXPECT_EQ(devices[1].deviceName, "cdc_acm:1004:633e:ttyACM2");
    EXPECT_EQ(devices[1].physicalPath, "pci-0000:00:14.0-usb-0:1.4:1.0");
    EXPECT_EQ(devices[2].deviceName, "cdc_acm:1004:633e:ttyACM10");
    EXPECT_EQ(devices[2].physicalPath, "pci-0000:00:14.0-usb-0:1.10:1.0");
    EXPECT_EQ(devices[2].usb->serial, "");
    EXPECT_EQ(devices[0].deviceName, "cdc_acm:1004:633e:ttyACM0");
    EXPECT_EQ(devices[0].node, "/fakedev/ttyACM0");
    EXPECT_EQ(devices[0].physicalPath, "pci-0000:00:14.0-usb-0:1.2:1.0");
    ASSERT_TRUE(devices[0].usb.has_value());
    EXPECT_EQ(devices[0].usb->vendorId, "1004");
    EXPECT_EQ(devices[0].usb->productId, "633e");
    EXPECT_EQ(devices[0].usb->serial, "LGF300K12345");
    EXPECT_FALSE(devices[3].usb.has_value());
    EXPECT_EQ(devices[3].deviceName, "serial:ttyS0");
    EXPECT_EQ(devices[3].node, "/fakedev/ttyS0");
    EXPECT_EQ(devices[3].physicalPath, fs::canonical(uart).string());
    EXPECT_EQ(devices[4].deviceName, "ftdi_sio:0403:6001:ttyUSB0");
    EXPECT_EQ(devices[4].node, "/fakedev/ttyUSB0");
    EXPECT_EQ(devices[4].physicalPath, "pci-0000:00:14.0-usb-0:1.3:1.0");

    EXPECT_TRUE(ListSysfsTty((root / "no-such-class").string(), "/dev").empty());
}

}  // namespace
}  // namespace tarnflow
