// What the operator is told when a port cannot be opened: the texts themselves, and the engine
// queuing them for ports that fail for real reasons.
#include "engine/OpenFailure.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "EngineHarness.h"
#include "platform/PortNames.h"
#include "platform/SerialPort.h"
#include "support/PtyPair.h"

namespace tarnflow {
namespace {

using testing::PhoneCodeImage;
using testing::PtyPair;
using testing::Text;

const std::string kCheckUsb = "USB 연결 상태를 확인하세요.";

TEST(OpenFailureText, NamesTheDeviceTheReasonAndWhatToDo) {
    const std::string device = "/dev/ttyACM3";
    struct Case {
        SerialError error;
        std::vector<std::string> parts;
    };
    const Case cases[] = {
        {SerialError::Permission,
         {"permission denied", "sudo usermod -aG dialout $USER", "packaging/60-tarnflow.rules"}},
        {SerialError::Busy, {"held by another program", "fuser -v " + device}},
        {SerialError::NotATty, {"not a serial device"}},
        {SerialError::NotFound, {"gone", "plugged in"}},
        {SerialError::Config, {"cannot open", SerialErrorText(SerialError::Config)}},
        {SerialError::Io, {"cannot open", SerialErrorText(SerialError::Io)}},
    };
    std::set<std::string> texts;
    for (const Case& c : cases) {
        const std::string text = OpenFailureText(device, c.error);
        SCOPED_TRACE(text);
        EXPECT_EQ(text.rfind(device + ": ", 0), 0u);
        for (const std::string& part : c.parts) {
            EXPECT_NE(text.find(part), std::string::npos) << part;
        }
        texts.insert(text);
    }
    EXPECT_EQ(texts.size(), std::size(cases));
}

TEST(OpenFailureText, TheUdevRuleItNamesExists) {
    // Named by the build: __FILE__ is relative under -ffile-prefix-map (Debian's build flags).
    const std::filesystem::path root = TARNFLOW_SOURCE_DIR;
    ASSERT_TRUE(std::filesystem::exists(root / "packaging")) << root;
    EXPECT_TRUE(std::filesystem::exists(root / "packaging/60-tarnflow.rules"));
}

class PortOpenFailure : public testing::EngineFixture {
  protected:
    PortOpenFailure() { SelectPhoneCode(PhoneCodeImage(8 * kBlockSize, 0)); }

    // Starts a download with entry 0 on `node`, which cannot be opened for `error`, and checks
    // that the refusal ends with the reason after the system's own texts.
    void ExpectRefusedFor(const std::string& node, SerialError error) {
        SCOPED_TRACE(node);
        host.boxes.clear();
        ClearTexts(0);
        engine.entries[0].comPort = PortNames::NumberFor(node);
        ASSERT_NE(engine.entries[0].comPort, 0);
        engine.OnDownload();

        const std::string why = OpenFailureText(node, error);
        EXPECT_EQ(host.BoxTexts(), std::vector<std::string>{"COM Port(COMM0) Open Error"});
        EXPECT_EQ(Texts(0), (std::vector<Text>{{TEXT_NOTICE, kCheckUsb}, {TEXT_ERROR, why}}));
        EXPECT_EQ(engine.entries[0].openFailure, why);
        EXPECT_EQ(engine.entries[0].linkOpen, 0);
        EXPECT_FALSE(engine.DownloadRunning());
    }
};

TEST_F(PortOpenFailure, ReasonFollowsTheSystemsTexts) {
    PtyPair held;
    ASSERT_TRUE(held.Valid()) << held.Error();
    SerialPort holder;
    ASSERT_TRUE(holder.Open(held.SlavePath())) << SerialErrorText(holder.LastError());

    const std::pair<std::string, SerialError> cases[] = {
        {dir + "/ttyACM-unplugged", SerialError::NotFound},
        {WriteFile("not-a-port.bin", {0x7E, 0x00}), SerialError::NotATty},
        {dir, SerialError::NotATty},
        {held.SlavePath(), SerialError::Busy},
    };
    for (const auto& [node, error] : cases) {
        ExpectRefusedFor(node, error);
    }
}

TEST_F(PortOpenFailure, DeviceWithoutAccess) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root opens a device whatever its mode";
    }
    PtyPair pty;
    ASSERT_TRUE(pty.Valid()) << pty.Error();
    ASSERT_EQ(::chmod(pty.SlavePath().c_str(), 0), 0);
    ExpectRefusedFor(pty.SlavePath(), SerialError::Permission);
}

TEST_F(PortOpenFailure, ReasonIsClearedOnceThePortOpens) {
    engine.entries[0].comPort = PortNames::NumberFor(dir + "/ttyACM-unplugged");
    engine.OnDownload();
    ASSERT_FALSE(engine.entries[0].openFailure.empty());

    Connect(1);
    ClearTexts(0);
    engine.OnDownload();
    EXPECT_EQ(engine.entries[0].linkOpen, 1);
    EXPECT_EQ(engine.entries[0].openFailure, "");
    for (const auto& [type, text] : Texts(0)) {
        EXPECT_NE(type, TEXT_ERROR) << text;
    }
    ExpectRequest(0, REQ_DL_START);
}

}  // namespace
}  // namespace tarnflow
