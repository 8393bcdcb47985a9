#include <gtest/gtest.h>

#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>

#include "gui/MySliderCtrl.h"
#include "gui/TextProgressCtrl.h"

namespace tarnflow {
namespace {

// Columns of the first row painted in the bar colour.
int FilledPixels(CTextProgressCtrl& bar) {
    const QImage image = bar.grab().toImage();
    int filled = 0;
    for (int x = 0; x < image.width(); ++x) {
        filled += image.pixelColor(x, image.height() / 2) == bar.GetBarColor() ? 1 : 0;
    }
    return filled;
}

TEST(TextProgressCtrl, FillRuleInPixels) {
    CTextProgressCtrl bar;
    EXPECT_EQ(bar.SetPos(10), -1);  // no window yet: nothing stored
    EXPECT_EQ(bar.GetPos(), 0);
    bar.resize(200, 10);
    bar.SetBarColor(QColor(0, 0, 128));
    bar.SetBackColor(QColor(240, 240, 240));
    bar.show();
    EXPECT_EQ(FilledPixels(bar), 0);
    EXPECT_EQ(bar.SetPos(50), 0);
    EXPECT_EQ(FilledPixels(bar), 100);
    EXPECT_EQ(bar.SetPos(29), 50);
    EXPECT_EQ(FilledPixels(bar), 57);  // 57.999... is truncated
}

TEST(TextProgressCtrl, RepaintsOnlyWhenTheFilledWidthChanges) {
    CTextProgressCtrl bar;
    bar.resize(100, 10);
    bar.show();
    bar.SetRange(0, 1000);
    bar.SetPos(500);
    const int paints = bar.PaintCount();
    bar.SetPos(505);  // still 50 pixels
    EXPECT_EQ(bar.PaintCount(), paints);
    bar.resize(120, 10);  // a resize forgets the width
    QApplication::processEvents();
    const int afterResize = bar.PaintCount();
    bar.SetPos(505);
    EXPECT_EQ(bar.PaintCount(), afterResize + 1);
    bar.SetRange(5, 5);  // an empty range paints nothing and does not fault
    EXPECT_EQ(bar.SetPos(7), 505);
}

class SliderSpy : public ::testing::Test {
  protected:
    void SetUp() override {
        slider.setRange(0, 19);
        slider.setPageStep(1);
        slider.resize(200, 20);
        slider.show();
        QObject::connect(&slider, &CMySliderCtrl::Moved, [this] { ++notices; });
    }
    CMySliderCtrl slider;
    int notices = 0;
};

TEST_F(SliderSpy, EachKeyPressNotifiesOnce) {
    QTest::keyClick(&slider, Qt::Key_Right);
    EXPECT_EQ(notices, 1);
    EXPECT_EQ(slider.value(), 1);
    QTest::keyClick(&slider, Qt::Key_Left);
    QTest::keyClick(&slider, Qt::Key_Left);  // already at 0: still one notice
    EXPECT_EQ(notices, 3);
}

TEST_F(SliderSpy, AReleaseNotifiesOnlyAfterMovement) {
    QTest::mousePress(&slider, Qt::LeftButton, {}, QPoint(5, 10));
    QTest::mouseRelease(&slider, Qt::LeftButton, {}, QPoint(5, 10));
    EXPECT_EQ(notices, 0);
    QTest::mousePress(&slider, Qt::LeftButton, {}, QPoint(5, 10));
    QMouseEvent move(QEvent::MouseMove, QPointF(50, 10), QPointF(50, 10), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&slider, &move);
    QTest::mouseRelease(&slider, Qt::LeftButton, {}, QPoint(50, 10));
    EXPECT_EQ(notices, 1);
    slider.setValue(7);  // the program moving it says nothing
    EXPECT_EQ(notices, 1);
}

}  // namespace
}  // namespace tarnflow
