#include "platform/DeviceMap.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/HotPlugWatch.h"

namespace tarnflow {
namespace {

namespace fs = std::filesystem;

class TempFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/tarnflow-devmap-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
    }
    void TearDown() override { fs::remove_all(folder); }
    std::string Node(const std::string& name) {
        const std::string path = folder + "/" + name;
        std::ofstream(path).put('x');
        return path;
    }
    std::string folder;
};

TEST_F(TempFolder, DeviceMapFolderListsLinksSortedWithTheirNodes) {
    fs::create_directory(folder + "/map");
    const std::string map = folder + "/map";
    const std::string longName = "tfusbmd-" + std::string(300, 'x');
    fs::create_symlink(Node("b"), map + "/tfusbmd01");
    fs::create_symlink(Node("a"), map + "/tfusbmd00");
    fs::create_symlink(Node("c"), map + "/other-serial");
    fs::create_symlink(folder + "/gone", map + "/tfusbmd02");  // target missing: left out
    fs::create_symlink("../long", map + "/" + longName.substr(0, 200));
    Node("long");
    std::ofstream(map + "/plain-file").put('x');  // not a link: left out

    const auto devices = ListDeviceMapFolder(map);
    ASSERT_EQ(devices.size(), 4u);
    EXPECT_EQ(devices[0].deviceName, "other-serial");
    // A relative target is taken from the folder the link stands in.
    EXPECT_EQ(devices[1].deviceName, longName.substr(0, 200));
    EXPECT_EQ(devices[1].node, folder + "/long");
    EXPECT_EQ(devices[2].deviceName, "tfusbmd00");
    EXPECT_EQ(devices[2].node, folder + "/a");
    EXPECT_EQ(devices[3].deviceName, "tfusbmd01");
    EXPECT_TRUE(ListDeviceMapFolder(folder + "/no-such-folder").empty());
}

TEST_F(TempFolder, SysfsTtysWithHardwareAreNamedByDriverAndUsbIdentity) {
    // A USB modem port: ttyACM0 -> usb device 1-1.2 with its interface 1-1.2:1.0 and driver.
    const fs::path usb = folder + "/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1.2";
    const fs::path interface = usb / "1-1.2:1.0";
    fs::create_directories(interface / "tty" / "ttyACM0");
    fs::create_directories(folder + "/drivers/cdc_acm");
    fs::create_directory_symlink(folder + "/drivers/cdc_acm", interface / "driver");
    std::ofstream(usb / "idVendor") << "1004\n";
    std::ofstream(usb / "idProduct") << "633e\n";
    const fs::path classFolder = folder + "/class/tty";
    fs::create_directories(classFolder / "ttyACM0");
    fs::create_directory_symlink(interface, classFolder / "ttyACM0" / "device");
    // A virtual terminal has no device behind it.
    fs::create_directories(classFolder / "tty1");

    const auto devices = ListSysfsTty(classFolder.string(), "/dev");
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].deviceName, "cdc_acm:1004:633e:ttyACM0");
    EXPECT_EQ(devices[0].node, "/dev/ttyACM0");
    EXPECT_EQ(devices[0].physicalPath, "pci-0000:00:14.0-usb-0:1.2:1.0");
}

TEST(DeviceTag, DefaultAndFromTheEnvironment) {
    unsetenv("TARNFLOW_DEVICE_TAG");
    EXPECT_EQ(DeviceTag(), "tfusbmd");
    setenv("TARNFLOW_DEVICE_TAG", "cdc_acm:1004", 1);
    EXPECT_EQ(DeviceTag(), "cdc_acm:1004");
    unsetenv("TARNFLOW_DEVICE_TAG");
}

TEST_F(TempFolder, FolderWatchReportsArrivalsAndRemovalsWithTheirNodes) {
    const std::string before = Node("before");
    fs::create_symlink(before, folder + "/tfusbmd00");
    HotPlugWatch watch;
    ASSERT_TRUE(watch.StartFolder(folder));
    EXPECT_TRUE(watch.ReadEvents().empty());

    const std::string node = Node("phone");
    fs::create_symlink(node, folder + "/tfusbmd01");
    pollfd pfd{watch.Fd(), POLLIN, 0};
    ASSERT_EQ(poll(&pfd, 1, 5000), 1);
    auto events = watch.ReadEvents();
    // Creating the node file itself is an event too; only links count.
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, HotPlugEvent::Kind::Arrival);
    EXPECT_EQ(events[0].device.deviceName, "tfusbmd01");
    EXPECT_EQ(events[0].device.node, node);

    fs::remove(folder + "/tfusbmd01");
    fs::remove(folder + "/tfusbmd00");
    ASSERT_EQ(poll(&pfd, 1, 5000), 1);
    events = watch.ReadEvents();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, HotPlugEvent::Kind::Removal);
    EXPECT_EQ(events[0].device.node, node);
    EXPECT_EQ(events[1].device.node, before);
    EXPECT_TRUE(watch.ReadEvents().empty());
}

TEST(HotPlugWatchUdev, StartsOrFailsCleanly) {
    HotPlugWatch watch;
    if (watch.StartUdev()) {
        EXPECT_GE(watch.Fd(), 0);
        watch.ReadEvents();
    } else {
        EXPECT_EQ(watch.Fd(), -1);
    }
    watch.Stop();
    EXPECT_EQ(watch.Fd(), -1);
}

}  // namespace
}  // namespace tarnflow
