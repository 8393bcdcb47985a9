#include <gtest/gtest.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include "WindowFixture.h"
#include "gui/AboutDlg.h"
#include "gui/Dialogs.h"
#include "gui/MySliderCtrl.h"
#include "gui/PushLikeStyle.h"
#include "gui/TextProgressCtrl.h"

namespace tarnflow {
namespace {

bool HasDialogFrame(const QWidget& dialog) {
    const Qt::WindowFlags flags = dialog.windowFlags();
    return (flags & Qt::WindowType_Mask) == Qt::Dialog && (flags & Qt::WindowTitleHint) &&
           (flags & Qt::WindowCloseButtonHint) && !(flags & Qt::WindowMinimizeButtonHint) &&
           !(flags & Qt::WindowMaximizeButtonHint);
}

TEST(MessageBoxes, ShowTheirStylesIconAndButtonsInADialogFrame) {
    const struct {
        MessageBoxStyle style;
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
    } rows[] = {
        {MessageBoxStyle::Ok, QMessageBox::NoIcon, QMessageBox::Ok},
        {MessageBoxStyle::Information, QMessageBox::Information, QMessageBox::Ok},
        {MessageBoxStyle::YesNo, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No},
        {MessageBoxStyle::YesNoExclamationModal, QMessageBox::Warning,
         QMessageBox::Yes | QMessageBox::No},
    };
    for (const auto& row : rows) {
        const auto box = NewMessageBox(nullptr, "Download Completed.", row.style);
        const int style = static_cast<int>(row.style);
        EXPECT_EQ(box->icon(), row.icon) << style;
        EXPECT_EQ(box->iconPixmap().isNull(), row.icon == QMessageBox::NoIcon) << style;
        EXPECT_EQ(box->standardButtons(), row.buttons) << style;
        EXPECT_EQ(box->text(), "Download Completed.");
        EXPECT_TRUE(HasDialogFrame(*box)) << style;
    }
    EXPECT_EQ(NewMessageBox(nullptr, "", MessageBoxStyle::YesNoExclamationModal)->windowModality(),
              Qt::ApplicationModal);
    CAboutDlg about;
    EXPECT_TRUE(HasDialogFrame(about));
}

// The share of pixels of two pictures of a button that differ clearly in some colour channel.
double ShareDiffering(const QImage& a, const QImage& b) {
    int differing = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QColor p = a.pixelColor(x, y), q = b.pixelColor(x, y);
            differing += std::max({std::abs(p.red() - q.red()), std::abs(p.green() - q.green()),
                                   std::abs(p.blue() - q.blue())}) > 40
                             ? 1
                             : 0;
        }
    }
    return static_cast<double>(differing) / (a.width() * a.height());
}

TEST(PushLikeStyle, ACheckedButtonLooksPressedInEnabledOrNot) {
    PushLikeStyle style;
    QPushButton button("&Font...");
    button.setStyle(&style);
    button.setCheckable(true);
    button.resize(100, 24);
    button.show();
    for (bool enabled : {true, false}) {
        button.setEnabled(enabled);
        button.setChecked(false);
        const QImage up = button.grab().toImage();
        button.setChecked(true);
        const QImage down = button.grab().toImage();
        // Far more than a shade: the face is tinted and the frame sunken.
        EXPECT_GT(ShareDiffering(up, down), 0.3) << enabled;
        const QColor topLeft = down.pixelColor(0, 0);
        const QColor bottomRight = down.pixelColor(down.width() - 1, down.height() - 1);
        EXPECT_LT(topLeft.lightness() + 60, bottomRight.lightness()) << enabled;
        // The caption stays readable on the face: its darkest pixels stand out clearly.
        const int face = down.pixelColor(5, down.height() / 2).lightness();
        int darkest = 255;
        for (int y = 4; y < down.height() - 4; ++y) {
            for (int x = 20; x < down.width() - 20; ++x) {
                darkest = std::min(darkest, down.pixelColor(x, y).lightness());
            }
        }
        EXPECT_GT(face - darkest, 70) << enabled;
    }
    // Buttons that are not checked keep the application's look.
    QPushButton plain("&Font...");
    plain.resize(100, 24);
    plain.show();
    button.setEnabled(true);
    button.setChecked(false);
    EXPECT_LT(ShareDiffering(plain.grab().toImage(), button.grab().toImage()), 0.02);
}

TEST(TextProgressCtrl, ABorderedBarFillsInsideItsFrame) {
    CTextProgressCtrl bar;
    bar.SetBordered(true);
    bar.resize(202, 10);
    bar.show();
    bar.SetBarColor(QColor(0, 0, 128));
    bar.SetBackColor(QColor(240, 240, 240));
    EXPECT_EQ(bar.ClientRect(), QRect(1, 1, 200, 8));
    EXPECT_EQ(bar.SetPos(50), 0);
    const QImage image = bar.grab().toImage();
    const QColor frame(bar.palette().color(QPalette::Dark).rgb());  // as 8-bit channels
    int filled = 0;
    for (int x = 0; x < image.width(); ++x) {
        filled += image.pixelColor(x, 5) == bar.GetBarColor() ? 1 : 0;
        EXPECT_EQ(image.pixelColor(x, 0), frame) << x;
        EXPECT_EQ(image.pixelColor(x, 9), frame) << x;
    }
    EXPECT_EQ(filled, 100);  // half of the 200 pixels inside the frame
    EXPECT_EQ(image.pixelColor(0, 5), frame);
    EXPECT_EQ(image.pixelColor(1, 5), bar.GetBarColor());
    EXPECT_EQ(image.pixelColor(200, 5), bar.GetBackColor());
    EXPECT_EQ(image.pixelColor(201, 5), frame);
}

TEST_F(Window, AboutIsOnTheMenuOfEveryPartWithoutOneOfItsOwnAndOnF1) {
    QGroupBox* frame = nullptr;
    for (auto* group : window->findChildren<QGroupBox*>()) {
        frame = group->title() == " Progress " ? group : frame;
    }
    ASSERT_NE(frame, nullptr);
    // The label is disabled until its phone has a port.
    const std::vector<QWidget*> parts = {window.get(),
                                         window->Control(IDC_DOWNLOAD),
                                         window->Control(IDC_CODE_NEW),
                                         window->Label(4),
                                         window->Bar(12),
                                         window->Slider(),
                                         window->Control(IDC_DLOAD_TYPE),
                                         frame};
    for (QWidget* part : parts) {
        const QPoint at(2, 2);
        QContextMenuEvent click(QContextMenuEvent::Mouse, at, part->mapToGlobal(at));
        QApplication::sendEvent(part, &click);
        EXPECT_TRUE(window->WindowMenu()->isVisible()) << part->metaObject()->className();
        EXPECT_TRUE(window->WindowMenu()->actions().contains(window->AboutAction()));
        window->WindowMenu()->hide();
    }
    EXPECT_EQ(window->WindowMenu()->actions().front()->isSeparator(), true);

    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(window->Control(IDC_DOWNLOAD), Qt::Key_F1);
    EXPECT_EQ(dialogs.abouts, 1);
}

}  // namespace
}  // namespace tarnflow
