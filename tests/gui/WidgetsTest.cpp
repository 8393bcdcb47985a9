#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QTest>

#include "gui/MySliderCtrl.h"
#include "gui/TextProgressCtrl.h"

namespace tarnflow {
namespace {

// Columns of the middle row painted exactly in `colour`, counted within [from, to).
int Columns(const QImage& image, const QColor& colour, int from = 0, int to = -1) {
    if (to < 0) {
        to = image.width();
    }
    int count = 0;
    for (int x = from; x < to; ++x) {
        count += image.pixelColor(x, image.height() / 2) == colour ? 1 : 0;
    }
    return count;
}

// Pixels anywhere in columns [from, to) painted exactly in `colour`.
int Pixels(const QImage& image, const QColor& colour, int from, int to) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = from; x < to; ++x) {
            count += image.pixelColor(x, y) == colour ? 1 : 0;
        }
    }
    return count;
}

TEST(TextProgressCtrl, FillRuleInPixels) {
    CTextProgressCtrl bar;
    EXPECT_EQ(bar.SetPos(10), -1);  // no window yet: nothing stored
    EXPECT_EQ(bar.GetPos(), 0);
    bar.resize(200, 10);
    bar.show();
    // A new bar is empty, in the system window colour.
    EXPECT_EQ(Columns(bar.grab().toImage(), bar.palette().color(QPalette::Base)), 200);
    bar.SetBarColor(QColor(0, 0, 128));
    bar.SetBackColor(QColor(240, 240, 240));
    EXPECT_EQ(bar.SetPos(50), 0);
    EXPECT_EQ(Columns(bar.grab().toImage(), bar.GetBarColor()), 100);
    EXPECT_EQ(bar.SetPos(29), 50);
    EXPECT_EQ(Columns(bar.grab().toImage(), bar.GetBarColor()), 57);  // 57.999... truncated
    EXPECT_EQ(Columns(bar.grab().toImage(), bar.GetBackColor()), 143);
}

TEST(TextProgressCtrl, RepaintsOnlyWhenTheFilledWidthChanges) {
    CTextProgressCtrl bar;
    bar.resize(100, 10);
    bar.show();
    QApplication::processEvents();
    bar.SetRange(0, 1000);
    int paints = bar.PaintCount();
    bar.SetPos(500);  // 50 pixels: painted at once, before SetPos returns
    EXPECT_EQ(bar.PaintCount(), paints + 1);
    bar.SetPos(505);  // still 50 pixels
    EXPECT_EQ(bar.PaintCount(), paints + 1);
    bar.SetBarColor(Qt::red);  // a colour alone repaints nothing
    QApplication::processEvents();
    EXPECT_EQ(bar.PaintCount(), paints + 1);

    bar.resize(120, 10);  // a resize forgets the width
    QApplication::processEvents();
    paints = bar.PaintCount();
    bar.SetPos(505);
    EXPECT_EQ(bar.PaintCount(), paints + 1);

    bar.SetText("abc");
    QApplication::processEvents();
    paints = bar.PaintCount();
    bar.SetText("abc");  // the same text does not invalidate
    QApplication::processEvents();
    EXPECT_EQ(bar.PaintCount(), paints);

    bar.SetRange(5, 5);  // an empty range paints nothing and does not fault
    EXPECT_EQ(bar.SetPos(7), 505);
    EXPECT_EQ(bar.GetPos(), 7);
}

TEST(TextProgressCtrl, TextChangesColourWhereItCrossesTheBarsEdge) {
    CTextProgressCtrl bar;
    bar.resize(300, 24);
    bar.show();
    const QColor barColour(0, 0, 128), back(255, 255, 255), onBar(255, 255, 0), offBar(255, 0, 0);
    bar.SetBarColor(barColour);
    bar.SetBackColor(back);
    bar.SetTextOnBarColor(onBar);
    bar.SetTextColor(offBar);
    bar.SetPos(42);
    EXPECT_EQ(Pixels(bar.grab().toImage(), onBar, 0, 300), 0);  // text off by default
    bar.SetShowText(true);
    EXPECT_EQ(bar.DrawnText(), "Download Complete 42%");
    const QImage image = bar.grab().toImage();
    const int edge = 126;  // 300 * 0.42
    EXPECT_GT(Pixels(image, onBar, 0, edge), 0);
    EXPECT_EQ(Pixels(image, onBar, edge, 300), 0);
    EXPECT_GT(Pixels(image, offBar, edge, 300), 0);
    EXPECT_EQ(Pixels(image, offBar, 0, edge), 0);
    bar.SetText("Erasing");
    EXPECT_EQ(bar.DrawnText(), "Erasing");
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
    EXPECT_EQ(slider.value(), 0);
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
    QTest::mousePress(&slider, Qt::LeftButton, {}, QPoint(50, 10));
    QTest::mouseRelease(&slider, Qt::LeftButton, {}, QPoint(50, 10));  // no move since
    EXPECT_EQ(notices, 1);
    slider.setValue(7);  // the program moving it says nothing
    EXPECT_EQ(notices, 1);
}

}  // namespace
}  // namespace tarnflow
