#pragma once

#include <QFont>
#include <QRect>

namespace tarnflow {

// The dialog font: 9-point "굴림" when installed, else a Korean font that is, else the default.
QFont DialogFont();

// Dialog units of a font as Windows converts them: x * average character width / 4,
// y * character height / 8.
class DialogUnits {
  public:
    explicit DialogUnits(const QFont& font);

    QPoint Point(int x, int y) const { return QPoint(x * charWidth_ / 4, y * charHeight_ / 8); }
    QRect Rect(int x, int y, int w, int h) const {
        const QPoint at = Point(x, y);
        const QPoint size = Point(w, h);
        return QRect(at.x(), at.y(), size.x(), size.y());
    }

  private:
    int charWidth_ = 6;
    int charHeight_ = 13;
};

}  // namespace tarnflow
