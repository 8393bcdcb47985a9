#include "gui/PushLikeStyle.h"

#include <qdrawutil.h>
#include <QApplication>
#include <QPainter>
#include <QStyleFactory>
#include <QStyleOption>

namespace tarnflow {

// A style of its own, of the application's kind: a proxy owns its base style.
PushLikeStyle::PushLikeStyle()
    : QProxyStyle(QStyleFactory::create(QApplication::style()->name())) {}

void PushLikeStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                                  QPainter* painter, const QWidget* widget) const {
    if (element != PE_PanelButtonCommand || !(option->state & State_On)) {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        return;
    }
    const QPalette& colours = option->palette;
    painter->save();
    painter->fillRect(option->rect, colours.color(QPalette::Light));
    const QBrush checkerboard(colours.color(QPalette::Dark), Qt::Dense4Pattern);
    qDrawWinPanel(painter, option->rect, colours, true, &checkerboard);
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
