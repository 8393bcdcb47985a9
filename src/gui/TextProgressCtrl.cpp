#include "gui/TextProgressCtrl.h"

#include <QPainter>
#include <QPalette>

namespace tarnflow {

CTextProgressCtrl::CTextProgressCtrl(QWidget* parent) : QWidget(parent) {
    const QPalette colours = palette();
    barColor_ = colours.color(QPalette::Highlight);
    backColor_ = colours.color(QPalette::Base);
    textColor_ = colours.color(QPalette::Highlight);
    textOnBarColor_ = colours.color(QPalette::Base);
    // Every pixel is painted: no background erase.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CTextProgressCtrl::SetRange(int minimum, int maximum) {
    minimum_ = minimum;
    maximum_ = maximum;
}

double CTextProgressCtrl::Fraction() const {
    if (minimum_ >= maximum_) {
        return 0.0;
    }
    return static_cast<double>(position_ - minimum_) / static_cast<double>(maximum_ - minimum_);
}

QRect CTextProgressCtrl::ClientRect() const {
    return bordered_ ? rect().adjusted(1, 1, -1, -1) : rect();
}

int CTextProgressCtrl::FilledWidth() const {
    return static_cast<int>(ClientRect().width() * Fraction());
}

void CTextProgressCtrl::SetBordered(bool on) {
    if (on != bordered_) {
        bordered_ = on;
        lastBarWidth_ = -1;  // the inner width changed, as after a resize
        update();
    }
}

int CTextProgressCtrl::SetPos(int position) {
    if (!testAttribute(Qt::WA_WState_Created)) {
        return -1;
    }
    const int old = position_;
    position_ = position;
    const int filled = FilledWidth();
    if (filled != lastBarWidth_) {
        lastBarWidth_ = filled;
        repaint();
    }
    return old;
}

void CTextProgressCtrl::SetShowText(bool on) {
    if (testAttribute(Qt::WA_WState_Created) && on != showText_) {
        update();
    }
    showText_ = on;
}

void CTextProgressCtrl::SetText(const QString& text) {
    if (text != text_) {
        text_ = text;
        update();
    }
}

QString CTextProgressCtrl::DrawnText() const {
    if (!text_.isEmpty()) {
        return text_;
    }
    return QString("Download Complete %1%").arg(static_cast<int>(Fraction() * 100.0));
}

void CTextProgressCtrl::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    lastBarWidth_ = -1;
}

void CTextProgressCtrl::paintEvent(QPaintEvent*) {
    ++paints_;
    if (minimum_ >= maximum_) {
        return;
    }
    QPainter painter(this);
    if (bordered_) {
        // The frame in the style's dark shade, which stands out from both the window and an
        // empty bar.
        painter.setPen(palette().color(QPalette::Dark));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
    const QRect client = ClientRect();
    const int filled = FilledWidth();
    const QRect bar(client.left(), client.top(), filled, client.height());
    const QRect rest(client.left() + filled, client.top(), client.width() - filled,
                     client.height());
    painter.fillRect(bar, barColor_);
    painter.fillRect(rest, backColor_);
    if (!showText_) {
        return;
    }
    const QString text = DrawnText();
    painter.setClipRect(bar);
    painter.setPen(textOnBarColor_);
    painter.drawText(client, Qt::AlignCenter | Qt::TextSingleLine, text);
    painter.setClipRect(rest);
    painter.setPen(textColor_);
    painter.drawText(client, Qt::AlignCenter | Qt::TextSingleLine, text);
}

}  // namespace tarnflow
