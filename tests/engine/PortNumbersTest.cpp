#include "engine/PortNumbers.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "platform/PortNames.h"

namespace tarnflow {
namespace {

namespace fs = std::filesystem;

// Port numbers follow the USB socket from run to run through the settings file.
class PortNumbers : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/tarnflow-ports-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
        setenv("TARNFLOW_CONFIG", (folder + "/registry.ini").c_str(), 1);
        PortNames::ResetForTesting();
    }
    void TearDown() override {
        PortNames::ResetForTesting();
        unsetenv("TARNFLOW_CONFIG");
        fs::remove_all(folder);
    }
    static SerialDevice At(const std::string& socket, const std::string& node) {
        return {"cdc_acm:1004:633e:" + node, "/dev/" + node, socket, {}};
    }
    std::string folder;
};

TEST_F(PortNumbers, TheSameSocketGetsTheSameNumberNextTime) {
    EXPECT_EQ(PortNameFor(At("usb-0:1", "ttyACM0")), "COM1");
    EXPECT_EQ(PortNameFor(At("usb-0:2", "ttyACM1")), "COM2");
    EXPECT_EQ(PortNameFor(At("usb-0:3", "ttyACM2")), "COM3");
    PortNames::ResetForTesting();  // the next day
    // The phones come up in another order and on other nodes; the sockets keep their numbers.
    EXPECT_EQ(PortNameFor(At("usb-0:3", "ttyACM0")), "COM3");
    EXPECT_EQ(PortNameFor(At("usb-0:2", "ttyACM1")), "COM2");
    // A new socket takes no number another socket keeps, though socket 1 is not plugged in.
    EXPECT_EQ(PortNameFor(At("usb-0:9", "ttyACM2")), "COM4");
    EXPECT_EQ(PortNameFor(At("usb-0:1", "ttyACM3")), "COM1");
    // Devices without a socket (device-map links, pseudo-terminals) are numbered as they come.
    EXPECT_EQ(PortNameFor({"tfusbmd00", "/dev/pts/7", "", {}}), "COM5");
}

TEST_F(PortNumbers, ASocketWhoseNumberIsTakenMovesToAFreeOne) {
    EXPECT_EQ(PortNameFor(At("usb-0:1", "ttyACM0")), "COM1");
    PortNames::ResetForTesting();
    EXPECT_EQ(PortNameFor({"tfusbmd00", "/dev/pts/7", "", {}}), "COM1");  // took 1 first
    EXPECT_EQ(PortNameFor(At("usb-0:1", "ttyACM0")), "COM2");
    PortNames::ResetForTesting();
    EXPECT_EQ(PortNameFor(At("usb-0:1", "ttyACM5")), "COM2");  // from now on it is 2
    EXPECT_EQ(PortNameFor(At("usb-0:4", "ttyACM6")), "COM1");  // and 1 is free again
}

TEST_F(PortNumbers, SettingsThatCannotBeUsedOnlyLoseTheMemory) {
    fs::create_directory(folder + "/registry.ini");  // neither readable nor writable as a file
    EXPECT_EQ(PortNameFor(At("usb-0:1", "ttyACM0")), "COM1");
    PortNames::ResetForTesting();
    EXPECT_EQ(PortNameFor(At("usb-0:2", "ttyACM1")), "COM1");
}

}  // namespace
}  // namespace tarnflow
