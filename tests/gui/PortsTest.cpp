#include <QLabel>

#include "WindowFixture.h"
#include "comm/Registry.h"
#include "gui/PortNumbers.h"
#include "platform/PortNames.h"

namespace tarnflow {
namespace {

namespace fs = std::filesystem;

class Ports : public Window {
  protected:
    // A device-map link to an existing node (a plain file will do for Port Search).
    void Link(const std::string& name) {
        fs::create_symlink(File(name + ".node"), folder + "/map/" + name);
    }
};

TEST_F(Ports, PortSearchTakesTheTaggedDevicesInOrder) {
    for (const char* name : {"tfusbmd00", "modem", "tfusbmd01", "serial", "tfusbmd02"}) {
        Link(name);
    }
    CDloadEngine& engine = window->Engine();
    engine.OnPortArrival("COM99");  // an arrival that Port Search will forget
    Click(IDC_PORT_SEARCH);
    EXPECT_EQ(engine.connectedCount(), 3);
    for (int i = 0; i < 3; ++i) {
        const int port = engine.entries[i].comPort;
        EXPECT_NE(port, 0);
        EXPECT_NE(port, 99);
        EXPECT_EQ(window->Label(i)->text(), QString("Entry %1 (COM%2)").arg(i + 1).arg(port));
        EXPECT_TRUE(window->Label(i)->isEnabled());
    }
    EXPECT_LT(engine.entries[0].comPort, engine.entries[1].comPort);  // first seen, lowest
    EXPECT_EQ(engine.entries[3].comPort, 0);
    EXPECT_EQ(window->Label(3)->text(), "Entry 4");
}

TEST_F(Ports, PortSearchFillsAtMostTwentyEntries) {
    for (int i = 0; i < 22; ++i) {
        Link("tfusbmd" + std::to_string(10 + i));
    }
    Click(IDC_PORT_SEARCH);
    EXPECT_EQ(window->Engine().connectedCount(), 20);
    for (const auto& entry : window->Engine().entries) {
        EXPECT_NE(entry.comPort, 0);
    }
}

TEST_F(Ports, ArrivalsAndRemovalsFromTheFolder) {
    Link("tfusbmd00");
    Click(IDC_PORT_SEARCH);
    CDloadEngine& engine = window->Engine();
    const int first = engine.entries[0].comPort;
    // The same port arriving again is refused with its message and counts once.
    engine.OnPortArrival("COM" + std::to_string(first));
    EXPECT_EQ(dialogs.boxes,
              std::vector<std::string>{"이미 사용중인 COM Port로 연결을 시도하셨습니다."});
    EXPECT_EQ(engine.connectedCount(), 1);
    EXPECT_EQ(engine.entries[1].comPort, 0);
    // Links appearing are arrivals, tag or not; they take the first free entries.
    Link("modem");
    Link("tfusbmd01");
    ASSERT_TRUE(RunUntil([&] { return engine.entries[2].comPort != 0; }));
    EXPECT_NE(engine.entries[1].comPort, 0);
    EXPECT_EQ(window->Label(2)->text(), QString("Entry 3 (COM%1)").arg(engine.entries[2].comPort));
    // A removal frees its entry and recounts; the last one resets every entry.
    fs::remove(folder + "/map/modem");
    ASSERT_TRUE(RunUntil([&] { return engine.entries[1].comPort == 0; }));
    EXPECT_EQ(engine.connectedCount(), 2);
    EXPECT_EQ(window->Label(1)->text(), "Entry 2");
    engine.entries[2].step = DL_RESET;  // a finished download is reset by the last removal
    fs::remove(folder + "/map/tfusbmd00");
    fs::remove(folder + "/map/tfusbmd01");
    ASSERT_TRUE(RunUntil([&] { return engine.connectedCount() == 0; }));
    for (const auto& entry : engine.entries) {
        EXPECT_EQ(entry.comPort, 0);
        EXPECT_EQ(entry.step, DL_START);
    }
}

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
