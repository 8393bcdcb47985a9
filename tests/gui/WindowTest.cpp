#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyleOptionSlider>
#include <QTest>
#include <QTextEdit>
#include <fstream>

#include "WindowFixture.h"
#include "gui/AboutDlg.h"
#include "gui/MySliderCtrl.h"
#include "gui/PushLikeStyle.h"
#include "gui/TextProgressCtrl.h"

namespace tarnflow {
namespace {

TEST_F(Window, ControlsStandWhereTheTableSaysInDialogUnits) {
    // Controls whose texts may need more room than the table gives keep their place and grow
    // to the right; the others keep their size too.
    const struct {
        int id;
        const char* caption;
        int x, y, w, h;
        bool mayGrow;
    } rows[] = {
        {IDC_CODE_NEW, "&Code...(NEW)", 13, 19, 58, 14, false},
        {IDC_CODE_OLD_PATH, "", 74, 53, 169, 14, false},
        {IDC_BOOT_AREA, "Change Phone Boot Area", 13, 35, 95, 10, true},
        {IDC_FONT_ADDRESS, "", 86, 103, 57, 12, false},
        {IDC_VPX_CONTENTS, "Con&tents...", 13, 217, 58, 14, false},
        {IDC_VPX_FACTORYFS, "F&actoryFS...", 13, 255, 58, 14, false},
        {IDC_VPX_FACTORYFS_PATH, "", 74, 255, 169, 14, false},
        {IDC_DOWNLOAD, "&Download", 452, 11, 80, 52, true},
        {IDC_PORT_SEARCH, "&Port Search", 452, 76, 80, 16, true},
        {IDC_CLEAR_STATUS, "Clear Stat&us", 452, 97, 80, 16, true},
        {IDC_ELAPSED, "", 452, 196, 80, 14, true},
        {IDC_LOG_SEL_TEXT, "", 261, 23, 28, 12, true},
        {IDC_LOG_FIRST, "", 261, 46, 177, 261, false},
        {IDC_LOG_FIRST + 19, "", 261, 43, 177, 162, false},
        {IDC_LABEL_FIRST, "Entry 1", 13, 330, 214, 10, false},
        {IDC_LABEL_FIRST + 9, "Entry 10", 13, 512, 214, 10, false},
        {IDC_LABEL_FIRST + 12, "Entry 13", 227, 372, 214, 10, false},
        {IDC_PROGRESS_FIRST, "", 13, 340, 204, 6, false},
        {IDC_PROGRESS_FIRST + 19, "", 227, 522, 204, 6, false},
    };
    for (const auto& row : rows) {
        QWidget* control = window->Control(row.id);
        ASSERT_NE(control, nullptr) << row.id;
        EXPECT_EQ(control->property("controlId").toInt(), row.id);
        const QRect table = window->Units().Rect(row.x, row.y, row.w, row.h);
        if (row.mayGrow) {
            EXPECT_EQ(control->pos(), table.topLeft()) << row.id;
            EXPECT_GE(control->width(), table.width()) << row.id;
            EXPECT_GE(control->height(), table.height()) << row.id;
        } else {
            EXPECT_EQ(control->geometry(), table) << row.id;
        }
        if (auto* button = qobject_cast<QAbstractButton*>(control)) {
            EXPECT_EQ(button->text(), row.caption) << row.id;
        } else if (auto* label = qobject_cast<QLabel*>(control)) {
            EXPECT_EQ(label->text(), row.caption) << row.id;
        }
    }
    // The slider gives up to the log selector what that grew, and keeps its right edge.
    const QRect slider = window->Slider()->geometry();
    EXPECT_EQ(slider.left(), window->Control(IDC_LOG_SEL_TEXT)->geometry().right() + 1);
    EXPECT_EQ(slider.right(), window->Units().Rect(289, 21, 154, 13).right());
    EXPECT_EQ(window->windowTitle(), "Compare_Tarnflow QV12 Ver01");
    const QSize table = window->Units().Rect(0, 0, 539, 545).size();
    EXPECT_EQ(window->height(), table.height());
    EXPECT_GE(window->width(), table.width());
    EXPECT_EQ(Get<QComboBox>(IDC_DLOAD_TYPE)->itemText(2), "COMPARE(EMERGENY)");
    EXPECT_EQ(Get<QComboBox>(IDC_DLOAD_TYPE)->currentIndex(), 0);
    EXPECT_TRUE(Get<QPushButton>(IDC_CODE_NEW)->isCheckable());
    for (int id : {IDC_CODE_NEW, IDC_FONT, IDC_VPX_BOOT, IDC_VPX_FACTORYFS}) {
        EXPECT_NE(qobject_cast<PushLikeStyle*>(Get<QPushButton>(id)->style()), nullptr) << id;
    }
    EXPECT_FALSE(Enabled(IDC_ELAPSED));
    EXPECT_FALSE(window->Label(0)->isEnabled());
    for (int id : {IDC_FILE_NAME, IDC_IMAGE_SIZE, IDC_BUILD_TIME, IDC_BUILD_TIME_LABEL}) {
        EXPECT_TRUE(window->Control(id)->isHidden()) << id;
    }
    for (int i = 0; i < kEntryCount; ++i) {
        EXPECT_EQ(window->Log(i)->isVisible(), i == 0) << i;
    }
    // The FactoryFS row stays inside the VPX frame and covers no entry row.
    const QRect factory = window->Control(IDC_VPX_FACTORYFS)->geometry();
    EXPECT_LE(factory.bottom(), window->Units().Rect(7, 145, 241, 130).bottom());
    for (int i = 0; i < kEntryCount; ++i) {
        EXPECT_FALSE(factory.intersects(window->Label(i)->geometry())) << i;
        EXPECT_FALSE(factory.intersects(window->Bar(i)->geometry())) << i;
    }
    if (QFontDatabase::families().contains("NanumGothic") &&
        !QFontDatabase::families().contains(QString::fromUtf8("굴림"))) {
        EXPECT_EQ(window->font().family(), "NanumGothic");
    }
    // Escape leaves the window open.
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_TRUE(window->isVisible());
}

TEST_F(Window, AboutBox) {
    EXPECT_EQ(window->AboutAction()->text(), QString::fromUtf8("Tarnflow 정보(&A)..."));
    EXPECT_EQ(window->AboutAction()->menuRole(), QAction::AboutRole);
    window->AboutAction()->trigger();
    EXPECT_EQ(dialogs.abouts, 1);

    CAboutDlg about(window.get());
    EXPECT_EQ(about.windowTitle(), QString::fromUtf8("Tarnflow 정보"));
    QPushButton* ok = nullptr;
    for (auto* button : about.findChildren<QPushButton*>()) {
        ok = button->text() == QString::fromUtf8("확인") ? button : ok;
    }
    ASSERT_NE(ok, nullptr);
    bool named = false;
    for (auto* label : about.findChildren<QLabel*>()) {
        named = named || label->text().contains("beta 1.9.6");
    }
    EXPECT_TRUE(named);
    about.show();
    ok->click();
    EXPECT_EQ(about.result(), QDialog::Accepted);
}

TEST_F(Window, EnableRulesOfAnIdleWindow) {
    CDloadEngine& engine = window->Engine();
    struct Row {
        const char* name;
        bool codeNew, font, vpxBoot, codeOld;
        int ports;
        bool download, bootArea, fontAddress;
    };
    const Row rows[] = {
        {"code", true, false, false, false, 1, true, true, false},
        {"two groups", true, false, true, false, 1, false, true, false},
        {"OLD alone", false, false, false, true, 1, false, false, false},
        {"no port", true, false, false, false, 0, false, true, false},
        {"font", false, true, false, false, 2, true, false, true},
        {"vpx", false, false, true, false, 1, true, false, false},
        {"nothing", false, false, false, false, 3, false, false, false},
    };
    for (const Row& row : rows) {
        engine.selection.check = {};
        engine.selection.check[KIND_CODE_NEW] = row.codeNew;
        engine.selection.check[KIND_FONT] = row.font;
        engine.selection.check[KIND_VPX_BOOT] = row.vpxBoot;
        engine.selection.check[KIND_CODE_OLD] = row.codeOld;
        for (int i = 0; i < kEntryCount; ++i) {
            engine.entries[i].comPort = i < row.ports ? i + 1 : 0;
        }
        window->UpdateDialogControls();
        EXPECT_EQ(Enabled(IDC_DOWNLOAD), row.download) << row.name;
        EXPECT_EQ(Enabled(IDC_BOOT_AREA), row.bootArea) << row.name;
        EXPECT_EQ(Enabled(IDC_FONT_ADDRESS), row.fontAddress) << row.name;
        for (int id : {IDC_CODE_NEW, IDC_VPX_FACTORYFS, IDC_PORT_SEARCH, IDC_CODE_OLD, IDC_COMPARE,
                       IDC_CLEAR_STATUS, IDC_DLOAD_TYPE, IDC_SLIDER_LOG}) {
            EXPECT_TRUE(Enabled(id)) << row.name << " " << id;
        }
    }
}

// The controls are rewritten from the members: a type chosen but not yet read back goes back
// to the stored one; once read back it stays.
TEST_F(Window, DataExchangeOfTheDownloadType) {
    auto* type = Get<QComboBox>(IDC_DLOAD_TYPE);
    CDloadEngine& engine = window->Engine();
    type->setCurrentIndex(2);
    engine.OnPortArrival("COM40");
    EXPECT_EQ(type->currentIndex(), 0);
    EXPECT_EQ(window->Label(0)->text(), "Entry 1 (COM40)");
    type->setCurrentIndex(2);
    Get<QLineEdit>(IDC_FONT_ADDRESS)->setText("1F");  // every change reads the controls back
    EXPECT_EQ(engine.selection.m_nDloadType, 2);
    EXPECT_EQ(engine.selection.m_strFontAddress, "1F");
    engine.OnPortArrival("COM41");
    EXPECT_EQ(type->currentIndex(), 2);
}

TEST_F(Window, StagesLabelsAndBars) {
    CDloadEngine& engine = window->Engine();
    engine.entries[2].comPort = 7;
    engine.entries[2].blockIndex = 1;
    engine.blockCount = 4;
    engine.m_dwImageSize = 0x1000;
    const QColor navy(0, 0, 128), yellow(255, 255, 0);
    const struct {
        int stage;
        const char* label;
        QColor colour;
        int position;
    } rows[] = {
        {PROG_PERCENT, "Entry 3 (COM7): 0x400 / 0x1000 (25%)", navy, 25},
        {PROG_ERROR, "Entry 3 (COM7):  (Error!)", QColor(128, 0, 0), 100},
        {PROG_ERASING, "Entry 3 (COM7): 0x400 / 0x1000 (Erasing Flash...)", QColor(0, 128, 0), 100},
        {PROG_PREPARING, "Entry 3 (COM7): 0x400 / 0x1000 (Preparing...)", yellow, 100},
        {PROG_NEXT_STEP, "Entry 3 (COM7): 0x400 / 0x1000 (Preparing Next Step...)", yellow, 100},
        {PROG_COMPLETED, "Entry 3 (COM7): 0x400 / 0x1000 (Download Completed.)", navy, 100},
    };
    for (const auto& row : rows) {
        window->ShowEntryProgress(2, row.stage, true);
        EXPECT_EQ(window->Label(2)->text(), row.label);
        EXPECT_EQ(window->Bar(2)->GetBarColor(), row.colour) << row.label;
        EXPECT_EQ(window->Bar(2)->GetPos(), row.position) << row.label;
    }
    // The picture follows: a full navy bar inside its frame.
    const QImage image = window->Bar(2)->grab().toImage();
    EXPECT_EQ(image.pixelColor(image.width() - 2, image.height() / 2), navy);

    window->UpdateEntryLabels();
    EXPECT_EQ(window->Label(2)->text(), "Entry 3 (COM7)");
    EXPECT_TRUE(window->Label(2)->isEnabled());
    EXPECT_EQ(window->Label(3)->text(), "Entry 4");
    EXPECT_FALSE(window->Label(3)->isEnabled());

    window->ResetProgressBars();
    EXPECT_EQ(window->Bar(2)->GetPos(), 0);
    EXPECT_EQ(window->Bar(2)->GetBarColor(), navy);
    EXPECT_EQ(window->Bar(2)->GetTextOnBarColor(), QColor(255, 255, 255));
}

TEST_F(Window, StatusTextsInBoldColoursBelowAnEmptyFirstLine) {
    CDloadEngine& engine = window->Engine();
    EntryRecord& entry = engine.entries[2];
    entry.linkOpen = 1;
    entry.textQueue.Add(TEXT_ERROR, "red");
    entry.textQueue.Add(TEXT_PROGRESS, "black");
    entry.textQueue.Add(TEXT_NOTICE, "blue");
    entry.textQueue.Add(1, "also blue");
    while (engine.OnTextQueued(2)) {
    }
    entry.linkOpen = 0;
    QTextEdit* log = window->Log(2);
    EXPECT_EQ(log->toPlainText(), "\nred\nblack\nblue\nalso blue");
    const struct {
        int position;
        QColor colour;
    } expected[] = {{2, QColor(255, 0, 0)},
                    {6, QColor(0, 0, 0)},
                    {12, QColor(0, 0, 255)},
                    {18, QColor(0, 0, 255)}};
    for (const auto& e : expected) {
        QTextCursor cursor(log->document());
        cursor.setPosition(e.position);
        EXPECT_EQ(cursor.charFormat().foreground().color(), e.colour) << e.position;
        EXPECT_EQ(cursor.charFormat().fontWeight(), QFont::Bold) << e.position;
    }
    // Clear Status empties every log; the next text again starts below an empty line.
    Click(IDC_CLEAR_STATUS);
    EXPECT_TRUE(log->toPlainText().isEmpty());
    entry.linkOpen = 1;
    entry.textQueue.Add(TEXT_NOTICE, "again");
    engine.OnTextQueued(2);
    entry.linkOpen = 0;
    EXPECT_EQ(log->toPlainText(), "\nagain");
}

TEST_F(Window, DraggingTheSliderChoosesTheVisibleLog) {
    CMySliderCtrl* slider = window->Slider();
    QStyleOptionSlider option;
    option.initFrom(slider);
    option.orientation = slider->orientation();
    option.minimum = slider->minimum();
    option.maximum = slider->maximum();
    option.tickPosition = slider->tickPosition();
    option.sliderPosition = option.sliderValue = 0;
    const QPoint from =
        slider->style()
            ->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, slider)
            .center();
    option.sliderPosition = option.sliderValue = 4;
    const QPoint to =
        slider->style()
            ->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, slider)
            .center();
    QTest::mousePress(slider, Qt::LeftButton, {}, from);
    QMouseEvent move(QEvent::MouseMove, QPointF(to), slider->mapToGlobal(QPointF(to)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(slider, &move);
    QTest::mouseRelease(slider, Qt::LeftButton, {}, to);
    EXPECT_EQ(slider->value(), 4);
    EXPECT_EQ(window->ShownLog(), 4);
    EXPECT_EQ(Get<QLineEdit>(IDC_LOG_SEL_TEXT)->text(), "Entry 5");
    for (int i = 0; i < kEntryCount; ++i) {
        EXPECT_EQ(window->Log(i)->isVisible(), i == 4) << i;
    }
    QTest::keyClick(slider, Qt::Key_Right);
    EXPECT_EQ(Get<QLineEdit>(IDC_LOG_SEL_TEXT)->text(), "Entry 6");
    EXPECT_TRUE(window->Log(5)->isVisible());
}

TEST_F(Window, SelectionExtensionsAndTheSharedFolder) {
    const DownloadSelection& s = window->Engine().selection;
    dialogs.files = {File("CODE.BIN"), File("contents.rbin"), "", File("fs.ffs")};
    Click(IDC_CODE_NEW);  // capitals accepted; the first dialog starts at "/"
    EXPECT_EQ(s.imagePath[KIND_CODE_NEW], folder + "/CODE.BIN");
    EXPECT_EQ(Get<QLineEdit>(IDC_CODE_NEW_PATH)->text().toStdString(), folder + "/CODE.BIN");
    EXPECT_TRUE(Get<QPushButton>(IDC_CODE_NEW)->isChecked());
    EXPECT_EQ(dialogs.initialFiles[0], "/*.bin");
    EXPECT_EQ(dialogs.filters[0], "Phone Code File (*.bin)|*.bin|All Files (*.*)|*.*||");
    EXPECT_EQ(QtFilterText(dialogs.filters[0]), "Phone Code File (*.bin);;All Files (*.*)");
    Click(IDC_VPX_CODE);  // .rbin is not a VPX Code file
    EXPECT_EQ(dialogs.boxes, std::vector<std::string>{"다운로드용 파일이 아닙니다."});
    EXPECT_EQ(s.check[KIND_VPX_CODE], 0);
    EXPECT_FALSE(Get<QPushButton>(IDC_VPX_CODE)->isChecked());
    EXPECT_TRUE(Get<QLineEdit>(IDC_VPX_CODE_PATH)->text().isEmpty());
    // Every kind's dialog starts in the folder of the last file accepted by any of them.
    EXPECT_EQ(dialogs.initialFiles[1], folder + "/*.bin");
    EXPECT_EQ(dialogs.filters[1], "VPX Code File (*.bin)|*.bin|All Files (*.*)|*.*||");
    Get<QLineEdit>(IDC_FONT_ADDRESS)->setText("1F0");
    Click(IDC_FONT);  // cancelled: unselected, and the address box emptied
    EXPECT_EQ(s.check[KIND_FONT], 0);
    EXPECT_TRUE(Get<QLineEdit>(IDC_FONT_ADDRESS)->text().isEmpty());
    Click(IDC_VPX_FACTORYFS);
    EXPECT_EQ(dialogs.initialFiles[3], folder + "/*.ffs");
    EXPECT_EQ(dialogs.filters[3], "VPX Factory FS File (*.ffs)|*.ffs|All Files (*.*)|*.*||");
    EXPECT_EQ(s.imagePath[KIND_VPX_FACTORYFS], folder + "/fs.ffs");
    // A second press clears the kind without a dialog.
    Click(IDC_VPX_FACTORYFS);
    EXPECT_EQ(dialogs.initialFiles.size(), 4u);
    EXPECT_TRUE(s.imagePath[KIND_VPX_FACTORYFS].empty());
    // The folder survives the window.
    window->close();
    window.reset();
    ScriptedDialogs other;
    auto second = NewWindow(other);
    std::string chosen;
    EXPECT_FALSE(second->PromptImageFile(KIND_VPX_LFS, chosen));
    EXPECT_EQ(other.initialFiles.at(0), folder + "/*.lfs");
}

TEST_F(Window, ClearingCodeOldClearsTheBootAreaOption) {
    const DownloadSelection& s = window->Engine().selection;
    dialogs.files = {File("new.bin"), File("old.bin")};
    Click(IDC_CODE_NEW);
    window->UpdateDialogControls();
    ASSERT_TRUE(Enabled(IDC_BOOT_AREA));
    Click(IDC_BOOT_AREA);
    EXPECT_EQ(s.m_bChangeBootArea, 1);
    Click(IDC_CODE_OLD);
    Click(IDC_CODE_OLD);  // cleared
    EXPECT_EQ(s.m_bChangeBootArea, 0);
    EXPECT_FALSE(Get<QCheckBox>(IDC_BOOT_AREA)->isChecked());
    EXPECT_EQ(s.check[KIND_CODE_NEW], 1);
}

TEST_F(Window, ASettingsFileThatCannotBeUsedForgetsTheFolderOnly) {
    const struct {
        const char* name;
        bool isFolder;
    } rows[] = {{"a folder in its place", true}, {"damaged", false}};
    for (const auto& row : rows) {
        const std::string path = folder + "/" + row.name + ".ini";
        if (row.isFolder) {
            std::filesystem::create_directory(path);
        } else {
            std::ofstream(path) << "\x01 not a settings line\n[broken\n";
        }
        setenv("TARNFLOW_CONFIG", path.c_str(), 1);
        ScriptedDialogs answers;
        auto other = NewWindow(answers);
        std::string chosen;
        answers.files = {File("a.bin")};
        EXPECT_TRUE(other->PromptImageFile(KIND_CODE_NEW, chosen)) << row.name;
        EXPECT_EQ(answers.initialFiles.at(0), "/*.bin") << row.name;
        if (row.isFolder) {
            other->PromptImageFile(KIND_CODE_NEW, chosen);
            EXPECT_EQ(answers.initialFiles.at(1), "/*.bin") << row.name;
        }
    }
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
    // Without Font the box is not looked at.
    window->Engine().selection.check[KIND_FONT] = 0;
    window->UpdateData(false);
    EXPECT_TRUE(window->Engine().ValidateFontAddress());
}

}  // namespace
}  // namespace tarnflow
