#include "platform/SerialDevices.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/NaturalOrder.h"
#include "support/PtyPair.h"

namespace tarnflow {
namespace {

namespace fs = std::filesystem;

TEST(NaturalOrder, DigitRunsCompareByValue) {
    const std::vector<std::pair<std::string, std::string>> ascending = {
        {"ttyACM2", "ttyACM10"},
        {"tfusbmd9", "tfusbmd10"},
        {"tfusbmd01", "tfusbmd2"},
        {"a1b2", "a1b10"},
        {"a", "a0"},
        {"a01", "a1"},
        {"ttyACM", "ttyACM0"},
        {"ttyACM9", "ttyUSB0"},
        {"x99999999999999999999", "x100000000000000000000"},
        {"usb-0:1.2:1.0", "usb-0:1.10:1.0"},
        {"Z", "a"},
        {"a", "\xc3\xa9"},
    };
    for (const auto& [less, more] : ascending) {
        EXPECT_TRUE(NaturalLess(less, more)) << less << " < " << more;
        EXPECT_FALSE(NaturalLess(more, less)) << more << " !< " << less;
    }
    EXPECT_FALSE(NaturalLess("ttyACM3", "ttyACM3"));
    EXPECT_FALSE(NaturalLess("", ""));
    EXPECT_TRUE(NaturalLess("", "a"));
}

// What udev's database holds for a tty: made-up devices with the properties udev's rules give
// a USB modem port, a USB serial converter and a UART.
UdevTtyRecord Modem() {
    return {"ttyACM0",
            "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1.2/1-1.2:1.0/tty/ttyACM0",
            "/dev/ttyACM0",
            "cdc_acm",
            {{"DEVNAME", "/dev/ttyACM0"},
             {"SUBSYSTEM", "tty"},
             {"ID_BUS", "usb"},
             {"ID_VENDOR_ID", "1004"},
             {"ID_MODEL_ID", "633e"},
             {"ID_SERIAL", "Maker_Phone_LGF300K12345"},
             {"ID_SERIAL_SHORT", "LGF300K12345"},
             {"ID_USB_DRIVER", "cdc_acm"},
             {"ID_USB_INTERFACE_NUM", "00"},
             {"ID_PATH", "pci-0000:00:14.0-usb-0:1.2:1.0"},
             {"ID_PATH_TAG", "pci-0000_00_14_0-usb-0_1_2_1_0"},
             {"ID_MM_DEVICE_IGNORE", "1"}}};
}

TEST(UdevRecord, UsbPortsAreNamedAndPlacedByUdevsProperties) {
    const SerialDevice modem = DescribeUdevRecord(Modem());
    EXPECT_EQ(modem.deviceName, "cdc_acm:1004:633e:ttyACM0");
    EXPECT_EQ(modem.node, "/dev/ttyACM0");
    EXPECT_EQ(modem.physicalPath, "pci-0000:00:14.0-usb-0:1.2:1.0");
    ASSERT_TRUE(modem.usb.has_value());
    EXPECT_EQ(modem.usb->vendorId, "1004");
    EXPECT_EQ(modem.usb->productId, "633e");
    EXPECT_EQ(modem.usb->serial, "LGF300K12345");

    // A converter without a serial number, whose tty sits below a port device of its own.
    const SerialDevice converter = DescribeUdevRecord(
        {"ttyUSB3",
         "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-4/1-4:1.0/ttyUSB3/tty/ttyUSB3",
         "",
         "ftdi_sio",
         {{"ID_BUS", "usb"},
          {"ID_VENDOR_ID", "0403"},
          {"ID_MODEL_ID", "6001"},
          {"ID_USB_DRIVER", "ftdi_sio"},
          {"ID_PATH", "pci-0000:00:14.0-usb-0:4:1.0"}}});
    EXPECT_EQ(converter.deviceName, "ftdi_sio:0403:6001:ttyUSB3");
    EXPECT_EQ(converter.node, "/dev/ttyUSB3");  // udev named no node: the kernel's name
    EXPECT_EQ(converter.physicalPath, "pci-0000:00:14.0-usb-0:4:1.0");
    ASSERT_TRUE(converter.usb.has_value());
    EXPECT_EQ(converter.usb->serial, "");
}

TEST(UdevRecord, OtherTtysArePlacedByTheirOwnSysfsPath) {
    // Every port of one UART chip shares the chip's ID_PATH, so it cannot tell them apart.
    const std::string syspath = "/sys/devices/platform/serial8250/tty/ttyS1";
    const SerialDevice uart = DescribeUdevRecord(
        {"ttyS1", syspath, "/dev/ttyS1", "serial8250", {{"ID_PATH", "platform-serial8250"}}});
    EXPECT_EQ(uart.deviceName, "serial8250:ttyS1");
    EXPECT_EQ(uart.physicalPath, syspath);
    EXPECT_FALSE(uart.usb.has_value());

    // A USB record without a vendor is not trusted as USB, and a tty without a driver says so.
    UdevTtyRecord odd = Modem();
    odd.properties.erase("ID_VENDOR_ID");
    odd.properties.erase("ID_USB_DRIVER");
    odd.parentDriver.clear();
    const SerialDevice unknown = DescribeUdevRecord(odd);
    EXPECT_EQ(unknown.deviceName, "unknown:ttyACM0");
    EXPECT_EQ(unknown.physicalPath, odd.syspath);
    EXPECT_FALSE(unknown.usb.has_value());
}

// Where udev has not processed the devices (no daemon, as in a container), the listing through
// libudev must be the sysfs walk's, device for device.
TEST(UdevListing, WithoutUdevsDatabaseEqualsTheSysfsWalk) {
    if (fs::exists("/run/udev/control")) {
        GTEST_SKIP() << "udev runs here: its database names the devices";
    }
    const auto udev = ListUdevTty();
    const auto sysfs = ListSysfsTty();
    ASSERT_EQ(udev.size(), sysfs.size());
    for (std::size_t i = 0; i < udev.size(); ++i) {
        EXPECT_EQ(udev[i].deviceName, sysfs[i].deviceName);
        EXPECT_EQ(udev[i].node, sysfs[i].node);
        EXPECT_EQ(udev[i].physicalPath, sysfs[i].physicalPath);
        EXPECT_EQ(udev[i].usb.has_value(), sysfs[i].usb.has_value());
    }
}

// libudev reading udev's database: in a mount namespace of a child process, a made-up record
// for a real tty of this machine is put where udev keeps its database, and the listing must
// describe the tty from that record. Needs root for the namespace; nothing outside it changes.
TEST(UdevListing, ReadsTheRecordInUdevsDatabase) {
    const auto ttys = ListSysfsTty();
    if (geteuid() != 0 || ttys.empty()) {
        GTEST_SKIP() << "needs root and a tty with hardware behind it";
    }
    struct stat info {};
    ASSERT_EQ(stat(ttys[0].node.c_str(), &info), 0) << ttys[0].node;
    const std::string record = "/run/udev/data/c" + std::to_string(major(info.st_rdev)) + ":" +
                               std::to_string(minor(info.st_rdev));
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(fds[0]);
        std::string seen = "no namespace";
        if (unshare(CLONE_NEWNS) == 0 &&
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
            mount("tmpfs", "/run", "tmpfs", 0, nullptr) == 0) {
            fs::create_directories("/run/udev/data");
            std::ofstream(record) << "I:1\nE:ID_BUS=usb\nE:ID_VENDOR_ID=1004\nE:ID_MODEL_ID=633e\n"
                                     "E:ID_SERIAL_SHORT=LGF300K12345\nE:ID_USB_DRIVER=cdc_acm\n"
                                     "E:ID_PATH=pci-0000:00:14.0-usb-0:1.2:1.0\nV:1\n";
            seen.clear();
            for (const auto& device : ListUdevTty()) {
                if (device.node == ttys[0].node) {
                    seen += device.deviceName + " " + device.physicalPath + " " +
                            (device.usb ? device.usb->serial : "-") + "\n";
                }
            }
            if (const auto identity = IdentifyNode(ttys[0].node)) {
                seen += identity->deviceName + " " + identity->physicalPath + "\n";
            }
        }
        const bool written =
            write(fds[1], seen.data(), seen.size()) == static_cast<ssize_t>(seen.size());
        _exit(written ? 0 : 1);
    }
    close(fds[1]);
    std::string seen;
    char buffer[256];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) {
        seen.append(buffer, static_cast<size_t>(n));
    }
    close(fds[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    if (seen == "no namespace") {
        GTEST_SKIP() << "no mount namespace here";
    }
    const std::string tty = fs::path(ttys[0].node).filename().string();
    const std::string line = "cdc_acm:1004:633e:" + tty + " pci-0000:00:14.0-usb-0:1.2:1.0";
    EXPECT_EQ(seen, line + " LGF300K12345\n" + line + "\n");
}

TEST(IdentifyNode, OnlyTtysWithHardwareBehindThemHaveAnIdentity) {
    char pattern[] = "/tmp/tarnflow-identify-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const fs::path root = pattern;
    std::ofstream(root / "file") << "x";
    const tarnflow::testing::PtyPair pty;
    ASSERT_TRUE(pty.Valid()) << pty.Error();
    const std::string pts = pty.SlavePath();

    for (const std::string& node : {pts, (root / "file").string(), (root / "missing").string(),
                                    std::string("/dev/null"), std::string()}) {
        EXPECT_FALSE(IdentifyNode(node).has_value()) << node;
        SerialDevice device{"tfusbmd00", node, "", {}};
        AddNodeIdentity(device);
        EXPECT_EQ(device.physicalPath, "") << node;
    }

    // Each tty with hardware, reached by its node or by a link to it, is the one listed.
    for (const auto& listed : ListUdevTty()) {
        if (!fs::exists(listed.node)) {
            continue;
        }
        fs::create_symlink(listed.node, root / "link");
        for (const std::string& node : {listed.node, (root / "link").string()}) {
            const auto identity = IdentifyNode(node);
            ASSERT_TRUE(identity.has_value()) << node;
            EXPECT_EQ(identity->deviceName, listed.deviceName);
            EXPECT_EQ(identity->physicalPath, listed.physicalPath);
        }
        fs::remove(root / "link");
    }
    fs::remove_all(root);
}

}  // namespace
}  // namespace tarnflow
