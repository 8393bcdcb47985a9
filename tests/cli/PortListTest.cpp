#include "cli/PortList.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "support/PtyPair.h"
#include "support/ScopedEnv.h"

namespace tarnflow::cli {
namespace {

namespace fs = std::filesystem;
using tarnflow::testing::ScopedEnv;

TEST(PortList, ColumnsAlignAndUnknownsShowAsDashes) {
    const std::vector<PortListRow> rows = {
        {{"cdc_acm:1004:633e:ttyACM0", "/dev/ttyACM0", "pci-0000:00:14.0-usb-0:1.2:1.0",
          UsbIdentity{"1004", "633e", "LGF300K12345"}},
         "COM3",
         true},
        {{"serial:ttyS0", "/dev/ttyS0", "/sys/devices/pnp0/00:00/tty/ttyS0", std::nullopt},
         "COM1",
         false},
        {{"cdc_acm:1004:633e:ttyACM1", "/dev/ttyACM1", "", UsbIdentity{"1004", "633e", ""}},
         "",
         true},
    };
    EXPECT_EQ(FormatPortList(rows, "udev's tty devices", "tfusbmd"),
              "Device map: udev's tty devices\n"
              "DEVICE                     NODE          COM   SOCKET                             "
              "VID:PID    SERIAL        TAG\n"
              "cdc_acm:1004:633e:ttyACM0  /dev/ttyACM0  COM3  pci-0000:00:14.0-usb-0:1.2:1.0     "
              "1004:633e  LGF300K12345  yes\n"
              "serial:ttyS0               /dev/ttyS0    COM1  /sys/devices/pnp0/00:00/tty/ttyS0  "
              "-          -             no\n"
              "cdc_acm:1004:633e:ttyACM1  /dev/ttyACM1  -     -                                  "
              "1004:633e  -             yes\n"
              "2 of 3 devices carry the driver tag \"tfusbmd\"; Port Search takes them in this "
              "order.\n");
    EXPECT_EQ(FormatPortList({}, "/dev/tarnflow (TARNFLOW_DEVICE_MAP)", "tfusbmd"),
              "Device map: /dev/tarnflow (TARNFLOW_DEVICE_MAP)\nNo serial device found.\n");
}

// The program itself over a device-map folder: the links in natural order, each with the COM
// number a download would give it.
TEST(PortList, ProgramListsTheDeviceMapInPortSearchOrder) {
    char pattern[] = "/tmp/tarnflow-portlist-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const fs::path folder = pattern;
    fs::create_directory(folder / "map");
    std::map<std::string, std::unique_ptr<tarnflow::testing::PtyPair>> phones;  // by link name
    for (const char* name : {"tfusbmd10", "modem", "tfusbmd2"}) {
        auto& pty = phones[name] = std::make_unique<tarnflow::testing::PtyPair>();
        ASSERT_TRUE(pty->Valid()) << pty->Error();
        fs::create_symlink(pty->SlavePath(), folder / "map" / name);
    }
    const ScopedEnv map("TARNFLOW_DEVICE_MAP", (folder / "map").c_str());
    const ScopedEnv config("TARNFLOW_CONFIG", (folder / "registry.ini").c_str());
    const ScopedEnv tag("TARNFLOW_DEVICE_TAG", nullptr);

    FILE* program = popen(TARNFLOW_CLI " --list-ports", "r");
    ASSERT_NE(program, nullptr);
    std::string output;
    char buffer[512];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, program)) > 0;) {
        output.append(buffer, n);
    }
    EXPECT_EQ(pclose(program), 0);
    fs::remove_all(folder);

    const std::vector<PortListRow> expected = {
        {{"modem", phones["modem"]->SlavePath(), "", std::nullopt}, "COM1", false},
        {{"tfusbmd2", phones["tfusbmd2"]->SlavePath(), "", std::nullopt}, "COM2", true},
        {{"tfusbmd10", phones["tfusbmd10"]->SlavePath(), "", std::nullopt}, "COM3", true},
    };
    EXPECT_EQ(output, FormatPortList(expected, (folder / "map").string() + " (TARNFLOW_DEVICE_MAP)",
                                     "tfusbmd"));
}

}  // namespace
}  // namespace tarnflow::cli
