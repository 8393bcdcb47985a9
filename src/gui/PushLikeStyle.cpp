#include "gui/PushLikeStyle.h"

#include <qdrawutil.h>
#include <QApplication>
#include <QPainter>
#include <QPalette>
#include <QStyleFactory>
#include <QStyleOption>

namespace tarnflow {

// A style of its own, of the application's kind: a proxy owns its base style.
PushLikeStyle::PushLikeStyle()
    : QProxyStyle(QStyleFactory::create(QApplication::style()->name())) {}

namespace {

// `tint` mixed into `base` by `share` (0..1).
QColor Mix(const QColor& base, const QColor& tint, double share) {
    return QColor::fromRgbF(static_cast<float>(base.redF() * (1 - share) + tint.redF() * share),
                            static_cast<float>(base.greenF() * (1 - share) + tint.greenF() * share),
                            static_cast<float>(base.blueF() * (1 - share) + tint.blueF() * share));
}

}  // namespace

// The selection colour of an active window, also on a disabled button, which keeps showing the
// choice; lighter there, as disabled controls are.
QColor PushLikeStyle::CheckedFace(const QStyleOption& option) {
    const bool enabled = option.state & State_Enabled;
    return Mix(option.palette.color(QPalette::Button),
               option.palette.color(QPalette::Active, QPalette::Highlight), enabled ? 0.35 : 0.25);
}

void PushLikeStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                                  QPainter* painter, const QWidget* widget) const {
    if (element != PE_PanelButtonCommand || !(option->state & State_On)) {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        return;
    }
    const QBrush fill(CheckedFace(*option));
    painter->save();
    qDrawWinPanel(painter, option->rect, option->palette, true, &fill);
    painter->restore();
}

// The greyed caption of a disabled button would vanish on the tinted face; a checked one takes a
// grey halfway between the face and the caption colour of an enabled button.
void PushLikeStyle::drawControl(ControlElement element, const QStyleOption* option,
                                QPainter* painter, const QWidget* widget) const {
    const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option);
    if (element != CE_PushButtonLabel || button == nullptr || !(option->state & State_On) ||
        (option->state & State_Enabled)) {
        QProxyStyle::drawControl(element, option, painter, widget);
        return;
    }
    QStyleOptionButton readable = *button;
    readable.palette.setColor(
        QPalette::Disabled, QPalette::ButtonText,
        Mix(CheckedFace(*option), option->palette.color(QPalette::Active, QPalette::ButtonText),
            0.5));
    QProxyStyle::drawControl(element, &readable, painter, widget);
}

int PushLikeStyle::pixelMetric(PixelMetric metric, const QStyleOption* option,
                               const QWidget* widget) const {
    if (metric == PM_ButtonShiftHorizontal || metric == PM_ButtonShiftVertical) {
        return 1;
    }
    return QProxyStyle::pixelMetric(metric, option, widget);
}

}  // namespace tarnflow
