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

void PushLikeStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                                  QPainter* painter, const QWidget* widget) const {
    if (element != PE_PanelButtonCommand || !(option->state & State_On)) {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        return;
    }
    // The selection colour of an active window, also on a disabled button, which keeps showing
    // the choice; lighter there, so that the greyed caption stays readable.
    const QPalette& colours = option->palette;
    const bool enabled = option->state & State_Enabled;
    const QColor face =
        Mix(colours.color(QPalette::Button), colours.color(QPalette::Active, QPalette::Highlight),
            enabled ? 0.35 : 0.25);
    const QBrush fill(face);
    painter->save();
    qDrawWinPanel(painter, option->rect, colours, true, &fill);
    painter->restore();
}

int PushLikeStyle::pixelMetric(PixelMetric metric, const QStyleOption* option,
                               const QWidget* widget) const {
    if (metric == PM_ButtonShiftHorizontal || metric == PM_ButtonShiftVertical) {
        return 1;
    }
    return QProxyStyle::pixelMetric(metric, option, widget);
}

}  // namespace tarnflow
