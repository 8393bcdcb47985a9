#pragma once

#include <QProxyStyle>

namespace tarnflow {

// The application's style with one change for push-like check boxes: a checked one is drawn
// pressed in, as Windows draws it, in a sunken frame with its caption moved down and right by a
// pixel, on a face tinted with the selection colour. The operator reads
// the chosen images from these buttons, also while they are disabled during downloads.
class PushLikeStyle : public QProxyStyle {
    Q_OBJECT
  public:
    PushLikeStyle();

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override;
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override;
    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override;

  private:
    static QColor CheckedFace(const QStyleOption& option);
};

}  // namespace tarnflow
