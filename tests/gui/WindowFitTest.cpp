#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QStyleOptionFrame>
#include <QStyleOptionGroupBox>
#include <algorithm>

#include "WindowFixture.h"
#include "engine/ProgressFormat.h"
#include "gui/TextProgressCtrl.h"
#include "gui/WindowFit.h"

namespace tarnflow {
namespace {

// The window's sizes below hold for the font the packages install; another font gives others.
bool NanumGothicDialogFont() {
    return DialogFont().family() == "NanumGothic";
}

bool Fits(QSize window, QSize available) {
    const QSize framed = window.grownBy(kFrameAllowance);
    return framed.width() <= available.width() && framed.height() <= available.height();
}

TEST_F(Window, TakesTheLargestScaleThatFitsTheScreenTitleBarIncluded) {
    const std::vector<DialogScale> scales = DialogScales(DialogFont());
    ASSERT_GE(scales.size(), 2u);
    const struct {
        QSize available;
        size_t scale;  // index into the scales, largest first
        QSize window;  // in NanumGothic
    } screens[] = {
        {{1920, 1080}, 0, {965, 953}},
        {{1366, 768}, 3, {764, 714}},
        {{1280, 720}, 4, {697, 635}},
    };
    for (const auto& screen : screens) {
        window->FitScreen(QRect(QPoint(0, 0), screen.available), kFrameAllowance);
        EXPECT_TRUE(Fits(window->size(), screen.available)) << screen.available.width();
        const auto chosen = std::find_if(scales.begin(), scales.end(), [&](const DialogScale& s) {
            return s.font == window->font();
        });
        ASSERT_NE(chosen, scales.end());
        if (chosen != scales.begin()) {
            window->ApplyScale(*(chosen - 1));
            EXPECT_FALSE(Fits(window->size(), screen.available)) << screen.available.width();
        }
        if (NanumGothicDialogFont()) {
            EXPECT_EQ(static_cast<size_t>(chosen - scales.begin()), screen.scale);
            window->ApplyScale(*chosen);
            EXPECT_EQ(window->size(), screen.window) << screen.available.width();
        }
    }
    // A screen too small for any scale gets the smallest.
    window->FitScreen(QRect(0, 0, 640, 480), kFrameAllowance);
    EXPECT_EQ(window->font(), scales.back().font);
    // The tests' screen is 1920 x 1080: a new window opens at the dialog font's own size, sized
    // for its captions before it is ever shown.
    window = NewWindow(dialogs);
    EXPECT_EQ(window->font(), DialogFont());
    if (NanumGothicDialogFont()) {
        EXPECT_EQ(window->size(), screens[0].window);
    }
}

TEST_F(Window, OnceFramedItKeepsItsTitleBarOnTheScreen) {
    window = NewWindow(dialogs);
    window->move(200, -60);  // as a window manager may place it
    window->show();
    ASSERT_TRUE(RunUntil([&] { return window->frameGeometry().top() >= 0; }, 5000))
        << window->frameGeometry().top();
    EXPECT_GT(window->geometry().top(), window->frameGeometry().top());  // the frame is known
    EXPECT_TRUE(window->screen()->availableGeometry().contains(window->frameGeometry()));
}

struct TextFit {
    QString text;
    QSize need;
    QRect room;
};

// Each text a control shows, with the room its style gives that text when it paints.
std::vector<TextFit> TextsAndRoom(QWidget* w) {
    const QFontMetrics metrics = w->fontMetrics();
    std::vector<TextFit> fits;
    auto add = [&](const QString& text, const QRect& room) {
        // Spaces around a caption carry no ink.
        const QSize need = metrics.size(Qt::TextShowMnemonic | Qt::TextSingleLine, text.trimmed());
        fits.push_back({text, need, room});
    };
    QStyle* style = w->style();
    if (auto* button = qobject_cast<QPushButton*>(w)) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        add(button->text(), style->subElementRect(QStyle::SE_PushButtonContents, &option, w));
    } else if (auto* check = qobject_cast<QCheckBox*>(w)) {
        QStyleOptionButton option;
        option.initFrom(check);
        option.text = check->text();
        add(check->text(), style->subElementRect(QStyle::SE_CheckBoxContents, &option, w));
    } else if (auto* label = qobject_cast<QLabel*>(w)) {
        add(label->text(), label->contentsRect());
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
        QStyleOptionComboBox option;
        option.initFrom(combo);
        const QRect field =
            style->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, w);
        for (int i = 0; i < combo->count(); ++i) {
            add(combo->itemText(i), field);
        }
    } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        QStyleOptionFrame option;
        option.initFrom(edit);
        option.lineWidth = style->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, w);
        // The edit keeps two pixels on each side inside its text margins.
        const QRect room = style->subElementRect(QStyle::SE_LineEditContents, &option, w)
                               .marginsRemoved(edit->textMargins())
                               .adjusted(2, 0, -2, 0);
        add(edit->text(), room);
    } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
        QStyleOptionGroupBox option;
        option.initFrom(group);
        option.text = group->title();
        option.subControls = QStyle::SC_GroupBoxLabel;
        option.textAlignment = group->alignment();
        const QRect label =
            style->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, w);
        add(group->title(), label.intersected(group->rect()));
    }
    return fits;
}

// An entry's label at a stage, for an image just below 16 MiB or of 3 MiB.
QString LongLabel(int entry, int stage, uint32_t imageSize) {
    ProgressInput in;
    in.entry = entry;
    in.comPort = entry + 1;
    in.stage = stage;
    in.imageSize = imageSize;
    in.blockIndex = static_cast<int>(imageSize / 1024) - 1;
    in.blockCount = static_cast<int>(imageSize / 1024);
    return QString::fromStdString(DescribeProgress(in).label);
}

TEST_F(Window, NoCaptionOrItemIsCutAtAnyScale) {
    for (const DialogScale& scale : DialogScales(DialogFont())) {
        window->ApplyScale(scale);
        // The longest texts of the controls whose texts change.
        Get<QLineEdit>(IDC_LOG_SEL_TEXT)->setText("Entry 20");
        window->Label(9)->setText(LongLabel(9, PROG_COMPLETED, 0x300000));
        window->Label(19)->setText(LongLabel(19, PROG_NEXT_STEP, 0xFFFC00));
        window->Label(18)->setText(LongLabel(18, PROG_COMPLETED, 0xFFFC00));
        int checked = 0;
        for (QWidget* control : window->findChildren<QWidget*>()) {
            if (control->isHidden()) {
                continue;
            }
            for (const TextFit& fit : TextsAndRoom(control)) {
                ++checked;
                EXPECT_LE(fit.need.width(), fit.room.width())
                    << fit.text.toStdString() << " at " << window->width() << " px";
                EXPECT_LE(fit.need.height(), fit.room.height())
                    << fit.text.toStdString() << " at " << window->width() << " px";
            }
        }
        EXPECT_GT(checked, 40);  // buttons, labels, frames, the three types, the selector
    }
}

TEST_F(Window, BarsAreFramedSoAnEmptyBarCanBeSeen) {
    const QColor background = window->palette().color(QPalette::Window);
    for (int i : {0, 19}) {
        CTextProgressCtrl* bar = window->Bar(i);
        EXPECT_TRUE(bar->IsBordered());
        const QImage image = bar->grab().toImage();
        const QColor border = image.pixelColor(0, image.height() / 2);
        const QColor empty = image.pixelColor(image.width() / 2, image.height() / 2);
        EXPECT_EQ(empty, bar->GetBackColor());
        // The frame stands out from the window around it and from the empty bar inside it.
        EXPECT_GE(std::abs(border.lightness() - background.lightness()), 48);
        EXPECT_GE(std::abs(border.lightness() - empty.lightness()), 48);
        for (const QPoint& p :
             {QPoint(image.width() / 2, 0), QPoint(image.width() / 2, image.height() - 1),
              QPoint(image.width() - 1, image.height() / 2)}) {
            EXPECT_EQ(image.pixelColor(p), border) << p.x() << "," << p.y();
        }
    }
}

}  // namespace
}  // namespace tarnflow
