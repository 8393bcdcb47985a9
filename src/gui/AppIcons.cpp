#include "gui/AppIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace tarnflow {

namespace {

QPixmap PhonePicture(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 32.0, size / 32.0);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 128));
    painter.drawRoundedRect(QRectF(8, 1, 16, 30), 3, 3);
    painter.setBrush(QColor(190, 220, 255));
    painter.drawRect(QRectF(10, 4, 12, 19));
    QPainterPath arrow;
    arrow.moveTo(14, 7);
    arrow.lineTo(18, 7);
    arrow.lineTo(18, 13);
    arrow.lineTo(21, 13);
    arrow.lineTo(16, 19);
    arrow.lineTo(11, 13);
    arrow.lineTo(14, 13);
    arrow.closeSubpath();
    painter.setBrush(QColor(0, 128, 0));
    painter.drawPath(arrow);
    painter.setBrush(QColor(255, 255, 0));
    painter.drawEllipse(QRectF(14, 25, 4, 4));
    return pixmap;
}

}  // namespace

QIcon ApplicationIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128}) {
        icon.addPixmap(PhonePicture(size));
    }
    return icon;
}

QPixmap AboutPicture() {
    return PhonePicture(32);
}

}  // namespace tarnflow
