// The window's size on its screen: the control table in dialog units at the largest dialog
// font that lets the whole window, frame and title bar included, fit the screen's free area.
#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QStyleOptionFrame>
#include <QTimer>
#include <QWindow>
#include <algorithm>

#include "gui/MySliderCtrl.h"
#include "gui/TarnflowDlg.h"

namespace tarnflow {

namespace {

// The control table's size of the whole window in dialog units.
constexpr QSize kLayoutUnits(539, 545);
// The margin right of the download-type box (451 + 81) to the window's edge.
constexpr int kRightMargin = 539 - (451 + 81);

// The controls of the column right of the status logs, which share its width.
constexpr int kRightColumn[] = {IDC_DOWNLOAD, IDC_PORT_SEARCH, IDC_CLEAR_STATUS,
                                IDC_COMPARE,  IDC_DLOAD_TYPE,  IDC_ELAPSED};

// The width an edit needs to show `text` whole: the text, the side margins a line edit keeps
// and its text margins, and what the style's frame takes from the edit's width.
int EditWidthFor(const QLineEdit& edit, const QString& text) {
    QStyleOptionFrame option;
    option.initFrom(&edit);
    option.lineWidth = edit.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, &edit);
    const QRect contents =
        edit.style()->subElementRect(QStyle::SE_LineEditContents, &option, &edit);
    constexpr int kEditSideMargin = 2;
    const QMargins margins = edit.textMargins();
    return edit.width() - contents.width() + margins.left() + margins.right() +
           2 * kEditSideMargin + edit.fontMetrics().size(Qt::TextSingleLine, text).width();
}

void Widen(QWidget* widget, int extra) {
    widget->resize(widget->width() + extra, widget->height());
}

}  // namespace

// Where a dialog without an owner opens: on the screen under the mouse pointer.
QScreen* CTarnflowDlg::OpeningScreen() {
    QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    return screen != nullptr ? screen : QGuiApplication::primaryScreen();
}

// The largest scale whose window, grown for its captions and framed, fits; else the smallest.
void CTarnflowDlg::FitScreen(const QRect& available, const QMargins& frame) {
    fittedFrame_ = frame;
    for (const DialogScale& scale : DialogScales(DialogFont())) {
        ApplyScale(scale);
        const QSize framed = size().grownBy(frame);
        if (framed.width() <= available.width() && framed.height() <= available.height()) {
            return;
        }
    }
}

void CTarnflowDlg::ApplyScale(const DialogScale& scale) {
    units_ = scale.units;
    setFont(scale.font);
    for (QWidget* child : findChildren<QWidget*>()) {
        const QVariant rect = child->property(kDialogRect);
        if (rect.isValid()) {
            const QRect r = rect.toRect();
            child->setGeometry(units_.Rect(r.x(), r.y(), r.width(), r.height()));
        }
    }
    MakeRoomForTexts();
    const QSize table = units_.Rect(0, 0, kLayoutUnits.width(), kLayoutUnits.height()).size();
    // The right column may have grown; the window keeps its margin beside it.
    const int right =
        Control(IDC_DLOAD_TYPE)->geometry().right() + 1 + units_.Point(kRightMargin, 0).x();
    setFixedSize(std::max(table.width(), right), table.height());
}

// Fonts do not shrink in exact proportion to their dialog units, and parts of a control such as
// a drop-down arrow or a frame keep their size; where a caption would be cut, the control grows
// by what its text needs, into free space or at the cost of a neighbour without text.
void CTarnflowDlg::MakeRoomForTexts() {
    ensurePolished();  // measured in the style's metrics, also before the window is shown
    for (auto* label : findChildren<QLabel*>()) {
        if (label->property("entryLabel").toBool()) {
            continue;  // their texts change; their width is the column's
        }
        const QSize need = label->sizeHint();
        QRect r = label->geometry();
        if (need.width() > r.width()) {
            if (label->alignment() & Qt::AlignRight) {
                r.setLeft(r.right() + 1 - need.width());
            } else {
                r.setWidth(need.width());
            }
        }
        r.setHeight(std::max(r.height(), need.height()));
        label->setGeometry(r);
    }
    auto* bootArea = static_cast<QCheckBox*>(Control(IDC_BOOT_AREA));
    bootArea->resize(std::max(bootArea->width(), bootArea->sizeHint().width()),
                     std::max(bootArea->height(), bootArea->sizeHint().height()));

    // The log selector takes what "Entry 20" needs from the slider beside it.
    auto* logSel = static_cast<QLineEdit*>(Control(IDC_LOG_SEL_TEXT));
    const int selExtra =
        EditWidthFor(*logSel, QString("Entry %1").arg(kEntryCount)) - logSel->width();
    if (selExtra > 0) {
        Widen(logSel, selExtra);
        slider_->setGeometry(slider_->geometry().adjusted(selExtra, 0, 0, 0));
    }

    // The download types are the widest texts of the right column, which widens for them.
    const int typeExtra = dloadType_->minimumSizeHint().width() - dloadType_->width();
    if (typeExtra > 0) {
        for (int id : kRightColumn) {
            Widen(Control(id), typeExtra);
        }
    }
}

// The window manager's frame is known only once it has framed the window, which no event
// announces; moves and paints are looked at until it is. The window is refitted after the
// event, not in the middle of a paint.
void CTarnflowDlg::WatchForFrame() {
    if (frameAdopted_ || windowHandle() == nullptr || windowHandle()->frameMargins().isNull()) {
        return;
    }
    frameAdopted_ = true;
    QTimer::singleShot(0, this, &CTarnflowDlg::AdoptRealFrame);
}

// When the real frame differs from the allowance the size was chosen with, the size is chosen
// again, and the window is moved so that its title bar and frame stay on the screen.
void CTarnflowDlg::AdoptRealFrame() {
    const QRect available = screen()->availableGeometry();
    const QMargins frame = windowHandle()->frameMargins();
    if (frame != fittedFrame_) {
        FitScreen(available, frame);
    }
    const QSize framed = size().grownBy(frame);
    QPoint topLeft = pos();  // the frame's top left
    topLeft.setX(std::clamp(topLeft.x(), available.left(),
                            std::max(available.left(), available.right() + 1 - framed.width())));
    topLeft.setY(std::clamp(topLeft.y(), available.top(),
                            std::max(available.top(), available.bottom() + 1 - framed.height())));
    if (topLeft != pos()) {
        move(topLeft);
    }
}

}  // namespace tarnflow
