#include <QDir>
#include <QLabel>
#include <QTextEdit>
#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>

#include "WindowFixture.h"
#include "gui/TextProgressCtrl.h"
#include "phonesim/DeviceLink.h"
#include "platform/FileDigest.h"

namespace tarnflow {
namespace {

// Downloads from the window to simulated phones found by Port Search.
class Download : public Window {
  protected:
    void Prepare(const std::vector<uint8_t>& image, int phoneCount, uint32_t baud = 0) {
        for (int i = 0; i < phoneCount; ++i) {
            AddPhone(phonesim::DeviceLinkName(i), baud);
        }
        Click(IDC_PORT_SEARCH);
        dialogs.files = {File("phone.bin", image)};
        Click(IDC_CODE_NEW);
    }
};

TEST_F(Download, ThreePhonesFromTheWindow) {
    // Paced phones, so that the download lasts long enough to be watched.
    // Long enough that a phone slow to start on a busy machine is not dropped as a straggler
    // before it has programmed anything (the first phone to finish drops those).
    const auto image = sample::PhoneCodeImage(0x40000, 0, 5);
    Prepare(image, 3, 460800);
    CDloadEngine& engine = window->Engine();
    window->UpdateDialogControls();
    ASSERT_TRUE(Enabled(IDC_DOWNLOAD));
    // A text queued while the entry is closed waits for the entry's next opening.
    engine.entries[0].textQueue.Add(TEXT_ERROR, "left over");
    window->UpdateData(false);
    Click(IDC_DOWNLOAD);
    ASSERT_TRUE(engine.DownloadRunning());

    // While the entries are busy only Code (OLD), Clear Status, Compare, the type and the
    // slider stay usable.
    window->UpdateDialogControls();
    for (int id : {IDC_DOWNLOAD, IDC_CODE_NEW, IDC_FONT, IDC_VPX_BOOT, IDC_VPX_LFS,
                   IDC_VPX_FACTORYFS, IDC_PORT_SEARCH, IDC_BOOT_AREA, IDC_FONT_ADDRESS}) {
        EXPECT_FALSE(Enabled(id)) << id;
    }
    for (int id : {IDC_CODE_OLD, IDC_CLEAR_STATUS, IDC_COMPARE, IDC_DLOAD_TYPE, IDC_SLIDER_LOG}) {
        EXPECT_TRUE(Enabled(id)) << id;
    }
    // The periodic refresh shows the percentage; a picture of the window while it works.
    ASSERT_TRUE(RunUntil([&] {
        return engine.entries[0].blockIndex > 20 && window->Label(0)->text().endsWith("%)");
    }));
    EXPECT_TRUE(window->Label(0)->text().startsWith("Entry 1 (COM"));
    const QString shots = QString(TARNFLOW_BUILD_DIR) + "/screenshots";
    QDir().mkpath(shots);
    EXPECT_TRUE(window->grab().save(shots + "/tarnflow-download.png"));

    ASSERT_TRUE(RunUntil([&] { return !engine.DownloadRunning(); }, 60000));
    EXPECT_EQ(std::count(dialogs.boxes.begin(), dialogs.boxes.end(), "Download Completed."), 1);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(engine.entries[i].outcome, EntryOutcome::Completed)
            << i << window->Log(i)->toPlainText().toStdString();
        EXPECT_EQ(phones[i]->ReadFlash(0, image.size()), image) << i;
        EXPECT_TRUE(window->Label(i)->text().endsWith("(Download Completed.)"))
            << window->Label(i)->text().toStdString();
        EXPECT_EQ(window->Bar(i)->GetPos(), 100);
    }
    // The early text came first, before the download's own texts.
    ASSERT_TRUE(RunUntil([&] { return window->Log(0)->toPlainText().count('\n') > 3; }));
    EXPECT_TRUE(window->Log(0)->toPlainText().startsWith("\nleft over\nPhone Code Download"))
        << window->Log(0)->toPlainText().toStdString();
    // Idle again: Download can be pressed again.
    window->UpdateDialogControls();
    EXPECT_TRUE(Enabled(IDC_DOWNLOAD));
    EXPECT_TRUE(Enabled(IDC_PORT_SEARCH));
}

TEST_F(Download, APhoneRemovedDuringTheDownloadFailsTheOthersGoOnAndDownloadWorksAgain) {
    const auto image = sample::PhoneCodeImage(0x30000, 0, 6);
    Prepare(image, 3);
    Click(IDC_DOWNLOAD);
    CDloadEngine& engine = window->Engine();
    ASSERT_TRUE(RunUntil([&] { return engine.entries[1].blockIndex > 10; }));
    const int port = engine.entries[1].comPort;
    std::filesystem::remove(folder + "/map/" + phonesim::DeviceLinkName(1));
    ASSERT_TRUE(RunUntil([&] { return engine.entries[1].comPort == 0; }));
    EXPECT_EQ(window->Label(1)->text(), "Entry 2");  // labels rewritten after the error label
    EXPECT_EQ(window->Bar(1)->GetBarColor(), QColor(128, 0, 0));
    ASSERT_TRUE(RunUntil([&] { return !engine.DownloadRunning(); }));
    EXPECT_EQ(engine.entries[1].outcome, EntryOutcome::Failed);
    EXPECT_NE(phones[1]->ReadFlash(0, image.size()), image);
    for (int i : {0, 2}) {
        EXPECT_EQ(engine.entries[i].outcome, EntryOutcome::Completed)
            << i << window->Log(i)->toPlainText().toStdString();
        EXPECT_EQ(phones[i]->ReadFlash(0, image.size()), image) << i;
    }
    EXPECT_NE(port, 0);

    // Port Search packs the two phones left into entries 1 and 2 while entry 3's link still
    // holds the third phone's port: a second Download works without restarting the program.
    window->UpdateDialogControls();
    ASSERT_TRUE(Enabled(IDC_PORT_SEARCH));
    Click(IDC_PORT_SEARCH);
    ASSERT_EQ(engine.connectedCount(), 2);
    const auto second = sample::PhoneCodeImage(0x20000, 0, 7);
    Click(IDC_CODE_NEW);  // off, then on again with the new file
    dialogs.files = {File("second.bin", second)};
    Click(IDC_CODE_NEW);
    dialogs.boxes.clear();
    window->UpdateDialogControls();
    ASSERT_TRUE(Enabled(IDC_DOWNLOAD));
    Click(IDC_DOWNLOAD);
    ASSERT_TRUE(engine.DownloadRunning());
    ASSERT_TRUE(RunUntil([&] { return !engine.DownloadRunning(); }));
    EXPECT_EQ(dialogs.boxes, std::vector<std::string>{"Download Completed."});
    for (int i : {0, 2}) {
        EXPECT_EQ(phones[i]->ReadFlash(0, second.size()), second) << i;
    }

    for (int i : {0, 1}) {
        EXPECT_EQ(engine.entries[i].outcome, EntryOutcome::Completed)
            << i << window->Log(i)->toPlainText().toStdString();
    }

    // Both downloads are in the history, one line each, as the window saw them.
    std::ifstream history(folder + "/history.jsonl");
    std::vector<nlohmann::json> lines;
    for (std::string line; std::getline(history, line);) {
        lines.push_back(nlohmann::json::parse(line));
    }
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0]["tool"]["name"], "tarnflow");
    EXPECT_EQ(lines[0]["exitStatus"], 1);
    ASSERT_EQ(lines[0]["entries"].size(), 3u);
    EXPECT_EQ(lines[0]["entries"][0]["outcome"], "completed");
    EXPECT_EQ(lines[0]["entries"][1]["outcome"], "failed");
    EXPECT_EQ(lines[0]["entries"][1]["com"], port);
    EXPECT_EQ(lines[0]["entries"][2]["bytesWritten"], image.size());
    EXPECT_EQ(lines[1]["exitStatus"], 0);
    EXPECT_EQ(lines[1]["images"][0]["sha256"], Sha256Hex(second.data(), second.size()));
    ASSERT_EQ(lines[1]["entries"].size(), 2u);
    EXPECT_EQ(lines[1]["entries"][1]["device"], phones[2]->SlavePath());
}

}  // namespace
}  // namespace tarnflow
