#include <gtest/gtest.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTextEdit>
#include <deque>
#include <filesystem>
#include <memory>

#include "gui/MySliderCtrl.h"
#include "gui/TarnflowDlg.h"
#include "gui/TextProgressCtrl.h"
#include "phonesim/DeviceLink.h"
#include "phonesim/Phone.h"
#include "sampleimages/SampleImages.h"

namespace tarnflow {
namespace {

namespace fs = std::filesystem;

// Answers the window's dialogs from a script and keeps what they said.
class ScriptedDialogs : public IDialogs {
  public:
    int MessageBox(QWidget*, const std::string& text, MessageBoxStyle style) override {
        boxes.push_back(text);
        return style == MessageBoxStyle::YesNo || style == MessageBoxStyle::YesNoExclamationModal
                   ? IDNO
                   : IDOK;
    }
    std::optional<std::string> OpenFile(QWidget*, const std::string& filter,
                                        const std::string& initialFile,
                                        const std::string&) override {
        filters.push_back(filter);
        initialFiles.push_back(initialFile);
        if (files.empty()) {
            return std::nullopt;
        }
        const std::string file = files.front();
        files.pop_front();
        if (file.empty()) {
            return std::nullopt;  // cancelled
        }
        return file;
    }
    void About(QWidget*) override {}

    std::deque<std::string> files;
    std::vector<std::string> boxes, filters, initialFiles;
};

class Window : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/tarnflow-window-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
        fs::create_directory(folder + "/map");
        setenv("TARNFLOW_CONFIG", (folder + "/registry.ini").c_str(), 1);
        setenv("TARNFLOW_DEVICE_MAP", (folder + "/map").c_str(), 1);
        window = std::make_unique<CTarnflowDlg>(dialogs);
        // The display refresh is skipped at 90 % processor load; a busy test machine must not
        // decide what these tests see, so the load reads 0.
        window->Engine().perfMonitor.Close();
        window->show();
    }
    void TearDown() override {
        window->close();
        window.reset();
        phones.clear();
        unsetenv("TARNFLOW_CONFIG");
        unsetenv("TARNFLOW_DEVICE_MAP");
        fs::remove_all(folder);
    }
    template <typename T>
    T* Get(int id) {
        return qobject_cast<T*>(window->Control(id));
    }
    void Click(int id) { Get<QAbstractButton>(id)->click(); }
    std::string File(const std::string& name, const std::vector<uint8_t>& bytes = {1, 2, 3}) {
        const std::string path = folder + "/" + name;
        sample::WriteFile(path, bytes);
        return path;
    }
    phonesim::Phone& AddPhone(const std::string& link) {
        phones.push_back(std::make_unique<phonesim::Phone>());
        phonesim::PhoneOptions options;
        options.deviceLink = folder + "/map/" + link;
        EXPECT_TRUE(phones.back()->Start(options));
        return *phones.back();
    }
    // Runs the window's events until `done` holds (a real-time guard only).
    template <typename Done>
    bool RunUntil(Done done, int limitMs = 20000) {
        QElapsedTimer timer;
        timer.start();
        while (!done() && timer.elapsed() < limitMs) {
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return done();
    }

    std::string folder;
    ScriptedDialogs dialogs;
    std::unique_ptr<CTarnflowDlg> window;
    std::vector<std::unique_ptr<phonesim::Phone>> phones;
};

TEST_F(Window, ControlsStandWhereTheTableSaysInDialogUnits) {
    const QPoint download = window->DialogUnitsToPixels(452, 11);
    EXPECT_EQ(window->Control(IDC_DOWNLOAD)->pos(), download);
    EXPECT_EQ(Get<QAbstractButton>(IDC_DOWNLOAD)->text(), "&Download");
    EXPECT_EQ(Get<QComboBox>(IDC_DLOAD_TYPE)->itemText(2), "COMPARE(EMERGENY)");
    EXPECT_EQ(window->windowTitle(), "Compare_Tarnflow QV12 Ver01");
    // The FactoryFS row sits in the VPX frame and covers no entry row.
    const QRect factory = window->Control(IDC_VPX_FACTORYFS)->geometry();
    for (int i = 0; i < kEntryCount; ++i) {
        EXPECT_FALSE(factory.intersects(window->Label(i)->geometry())) << i;
        EXPECT_FALSE(factory.intersects(window->Bar(i)->geometry())) << i;
    }
    // Escape leaves the window open.
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_TRUE(window->isVisible());
}

TEST_F(Window, EnableRules) {
    CDloadEngine& engine = window->Engine();
    struct Row {
        bool codeNew, font, vpxBoot, codeOld;
        int ports;
        bool download, bootArea, fontAddress;
    };
    const Row rows[] = {
        {true, false, false, false, 1, true, true, false},
        {true, false, true, false, 1, false, true, false},    // two groups
        {false, false, false, true, 1, false, false, false},  // OLD alone
        {true, false, false, false, 0, false, true, false},   // no port
        {false, true, false, false, 2, true, false, true},
        {false, false, true, false, 1, true, false, false},
    };
    for (const Row& row : rows) {
        engine.selection.check = {};
        engine.selection.check[KIND_CODE_NEW] = row.codeNew;
        engine.selection.check[KIND_FONT] = row.font;
        engine.selection.check[KIND_VPX_BOOT] = row.vpxBoot;
        engine.selection.check[KIND_CODE_OLD] = row.codeOld;
        engine.connectedCount = row.ports;
        window->UpdateDialogControls();
        EXPECT_EQ(window->Control(IDC_DOWNLOAD)->isEnabled(), row.download);
        EXPECT_EQ(window->Control(IDC_BOOT_AREA)->isEnabled(), row.bootArea);
        EXPECT_EQ(window->Control(IDC_FONT_ADDRESS)->isEnabled(), row.fontAddress);
        EXPECT_TRUE(window->Control(IDC_PORT_SEARCH)->isEnabled());
        EXPECT_TRUE(window->Control(IDC_COMPARE)->isEnabled());
    }
}

TEST_F(Window, LabelsColoursAndLogs) {
    CDloadEngine& engine = window->Engine();
    engine.entries[2].comPort = 7;
    engine.entries[2].blockIndex = 1;
    engine.blockCount = 4;
    engine.m_dwImageSize = 0x1000;
    window->ShowEntryProgress(2, PROG_PERCENT, true);
    EXPECT_EQ(window->Label(2)->text(), "Entry 3 (COM7): 0x400 / 0x1000 (25%)");
    EXPECT_EQ(window->Bar(2)->GetBarColor(), QColor(0, 0, 128));
    window->ShowEntryProgress(2, PROG_ERROR, true);
    EXPECT_EQ(window->Label(2)->text(), "Entry 3 (COM7):  (Error!)");
    EXPECT_EQ(window->Bar(2)->GetBarColor(), QColor(128, 0, 0));
    window->ShowEntryProgress(2, PROG_ERASING, false);
    EXPECT_EQ(window->Bar(2)->GetBarColor(), QColor(0, 128, 0));
    window->UpdateEntryLabels();
    EXPECT_EQ(window->Label(2)->text(), "Entry 3 (COM7)");
    EXPECT_TRUE(window->Label(2)->isEnabled());
    EXPECT_EQ(window->Label(3)->text(), "Entry 4");
    EXPECT_FALSE(window->Label(3)->isEnabled());

    // A closed entry's texts wait in its queue; once open they arrive in their colours.
    engine.entries[2].linkOpen = 0;
    engine.entries[2].textQueue.Add(TEXT_ERROR, "red");
    EXPECT_EQ(engine.OnTextQueued(2), 0);
    engine.entries[2].linkOpen = 1;
    engine.entries[2].textQueue.Add(TEXT_PROGRESS, "black");
    engine.entries[2].textQueue.Add(TEXT_NOTICE, "blue");
    while (engine.OnTextQueued(2)) {
    }
    engine.entries[2].linkOpen = 0;
    QTextEdit* log = window->Log(2);
    EXPECT_EQ(log->toPlainText(), "\nred\nblack\nblue");
    const struct {
        int position;
        QColor colour;
    } expected[] = {{2, QColor(255, 0, 0)}, {6, QColor(0, 0, 0)}, {12, QColor(0, 0, 255)}};
    for (const auto& e : expected) {
        QTextCursor cursor(log->document());
        cursor.setPosition(e.position);
        EXPECT_EQ(cursor.charFormat().foreground().color(), e.colour) << e.position;
        EXPECT_EQ(cursor.charFormat().fontWeight(), QFont::Bold);
    }
}

TEST_F(Window, SliderChoosesTheVisibleLog) {
    window->Slider()->setValue(4);
    window->OnSliderMoved();
    EXPECT_EQ(window->ShownLog(), 4);
    EXPECT_EQ(Get<QLineEdit>(IDC_LOG_SEL_TEXT)->text(), "Entry 5");
    for (int i = 0; i < kEntryCount; ++i) {
        EXPECT_EQ(window->Log(i)->isVisible(), i == 4) << i;
    }
}

TEST_F(Window, SelectionExtensionsAndTheSharedFolder) {
    dialogs.files = {File("CODE.BIN"), File("contents.rbin"), "", File("fs.ffs")};
    Click(IDC_CODE_NEW);  // capitals accepted; the first dialog starts at "/"
    EXPECT_EQ(window->Engine().selection.imagePath[KIND_CODE_NEW], folder + "/CODE.BIN");
    EXPECT_EQ(dialogs.initialFiles[0], "/*.bin");
    EXPECT_EQ(dialogs.filters[0], "Phone Code File (*.bin)|*.bin|All Files (*.*)|*.*||");
    Click(IDC_VPX_CODE);  // .rbin is not a VPX Code file
    EXPECT_EQ(dialogs.boxes.back(), "다운로드용 파일이 아닙니다.");
    EXPECT_EQ(window->Engine().selection.check[KIND_VPX_CODE], 0);
    EXPECT_TRUE(Get<QLineEdit>(IDC_VPX_CODE_PATH)->text().isEmpty());
    Click(IDC_FONT);  // cancelled
    EXPECT_EQ(window->Engine().selection.check[KIND_FONT], 0);
    // Every kind's dialog starts in the folder of the last file accepted by any of them.
    EXPECT_EQ(dialogs.initialFiles[1], folder + "/*.bin");
    Click(IDC_VPX_FACTORYFS);
    EXPECT_EQ(dialogs.initialFiles[3], folder + "/*.ffs");
    // ... also in a new window.
    ScriptedDialogs other;
    CTarnflowDlg second(other);
    std::string chosen;
    second.PromptImageFile(KIND_VPX_LFS, chosen);
    EXPECT_EQ(other.initialFiles.at(0), folder + "/*.lfs");
}

TEST_F(Window, FontAddressThroughTheWindow) {
    window->Engine().selection.check[KIND_FONT] = 1;
    window->UpdateData(false);
    const struct {
        const char* text;
        bool ok;
        uint32_t address;
    } rows[] = {{"1F0", true, 0x1F0},
                {"12G4", true, 0x12},
                {"G12", true, 0},
                {"0x10", true, 0},
                {"123456789", true, 0xFFFFFFFF},
                {"", false, 0},
                {"1 0", false, 0}};
    for (const auto& row : rows) {
        Get<QLineEdit>(IDC_FONT_ADDRESS)->setText(row.text);
        EXPECT_EQ(window->Engine().ValidateFontAddress(), row.ok) << row.text;
        if (row.ok) {
            EXPECT_EQ(window->Engine().selection.fontStartAddress, row.address) << row.text;
        }
    }
    EXPECT_EQ(dialogs.boxes, (std::vector<std::string>{"Font Address를 입력하세요!",
                                                       "Font Address를 정확하게 써주세요!"}));
}

TEST_F(Window, PortSearchTakesTheTaggedDevicesAndArrivalsTheRest) {
    for (const char* name : {"tfusbmd00", "modem", "tfusbmd01", "serial", "tfusbmd02"}) {
        fs::create_symlink(File(std::string(name) + ".node"), folder + "/map/" + name);
    }
    Click(IDC_PORT_SEARCH);
    CDloadEngine& engine = window->Engine();
    EXPECT_EQ(engine.connectedCount, 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_NE(engine.entries[i].comPort, 0);
        EXPECT_TRUE(window->Label(i)->text().startsWith(QString("Entry %1 (COM").arg(i + 1)));
    }
    EXPECT_EQ(engine.entries[3].comPort, 0);
    // The same port arriving again is refused with its message.
    const std::string name = "COM" + std::to_string(engine.entries[0].comPort);
    engine.OnPortArrival(name);
    EXPECT_EQ(dialogs.boxes.back(), "이미 사용중인 COM Port로 연결을 시도하셨습니다.");
    // A link appearing in the folder is an arrival; the last removal resets all entries.
    fs::create_symlink(File("new.node"), folder + "/map/tfusbmd09");
    ASSERT_TRUE(RunUntil([&] { return engine.entries[3].comPort != 0; }));
    // (Arrivals take any port, tagged or not: the untagged links count too.)
    for (const char* link :
         {"tfusbmd00", "modem", "tfusbmd01", "serial", "tfusbmd02", "tfusbmd09"}) {
        fs::remove(folder + "/map/" + link);
    }
    ASSERT_TRUE(RunUntil([&] { return engine.connectedCount == 0; }));
    for (const auto& entry : engine.entries) {
        EXPECT_EQ(entry.comPort, 0);
    }
}

TEST_F(Window, PortSearchFillsAtMostTwentyEntries) {
    for (int i = 0; i < 22; ++i) {
        const std::string name = "tfusbmd" + std::to_string(10 + i);
        fs::create_symlink(File(name + ".node"), folder + "/map/" + name);
    }
    Click(IDC_PORT_SEARCH);
    EXPECT_EQ(window->Engine().connectedCount, 20);
    for (const auto& entry : window->Engine().entries) {
        EXPECT_NE(entry.comPort, 0);
    }
}

TEST_F(Window, APhoneRemovedDuringTheDownloadFailsAndTheOthersGoOn) {
    const auto image = sample::PhoneCodeImage(0x30000, 0, 6);
    for (int i = 0; i < 3; ++i) {
        AddPhone(phonesim::DeviceLinkName(i));
    }
    Click(IDC_PORT_SEARCH);
    dialogs.files = {File("phone.bin", image)};
    Click(IDC_CODE_NEW);
    Click(IDC_DOWNLOAD);
    CDloadEngine& engine = window->Engine();
    ASSERT_TRUE(RunUntil([&] { return engine.entries[1].blockIndex > 10; }));
    fs::remove(folder + "/map/" + phonesim::DeviceLinkName(1));
    ASSERT_TRUE(RunUntil([&] { return !engine.DownloadRunning(); }));
    EXPECT_EQ(engine.entries[1].outcome, EntryOutcome::Failed);
    EXPECT_EQ(engine.entries[1].comPort, 0);
    EXPECT_NE(phones[1]->ReadFlash(0, image.size()), image);
    for (int i : {0, 2}) {
        EXPECT_EQ(engine.entries[i].outcome, EntryOutcome::Completed) << i;
        EXPECT_EQ(phones[i]->ReadFlash(0, image.size()), image) << i;
    }
}

TEST_F(Window, AWholeDownloadFromTheWindow) {
    const auto image = sample::PhoneCodeImage(0x40000, 0, 5);
    for (int i = 0; i < 3; ++i) {
        AddPhone(phonesim::DeviceLinkName(i));
    }
    Click(IDC_PORT_SEARCH);
    dialogs.files = {File("phone.bin", image)};
    Click(IDC_CODE_NEW);
    window->UpdateDialogControls();
    ASSERT_TRUE(window->Control(IDC_DOWNLOAD)->isEnabled());
    Click(IDC_DOWNLOAD);
    CDloadEngine& engine = window->Engine();
    ASSERT_TRUE(engine.DownloadRunning());
    // A picture of the window while it works.
    ASSERT_TRUE(RunUntil([&] { return window->Label(0)->text().endsWith("%)"); }));
    const QString shots = QString(TARNFLOW_BUILD_DIR) + "/screenshots";
    QDir().mkpath(shots);
    EXPECT_TRUE(window->grab().save(shots + "/tarnflow-download.png"));
    ASSERT_TRUE(RunUntil([&] { return !engine.DownloadRunning(); }));
    EXPECT_NE(std::find(dialogs.boxes.begin(), dialogs.boxes.end(), "Download Completed."),
              dialogs.boxes.end());
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(engine.entries[i].outcome, EntryOutcome::Completed);
        EXPECT_EQ(phones[i]->ReadFlash(0, image.size()), image);
        EXPECT_TRUE(window->Label(i)->text().endsWith("(Download Completed.)"))
            << window->Label(i)->text().toStdString();
    }
    // Idle again: Download can be pressed again.
    window->UpdateDialogControls();
    EXPECT_TRUE(window->Control(IDC_DOWNLOAD)->isEnabled());
}

}  // namespace
}  // namespace tarnflow
