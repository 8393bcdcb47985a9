#include <QLabel>

#include "WindowFixture.h"

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

}  // namespace
}  // namespace tarnflow
