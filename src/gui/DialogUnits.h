#pragma once

#include <QFont>
#include <QRect>

namespace tarnflow {

// The dialog font: 9-point "굴림" when installed, else a Korean font that is, else the default.
QFont DialogFont();

// Dialog units of a font as Windows converts them: x * average character width / 4,
// y * character height / 8. A dialog drawn in a smaller font keeps the base units of its own
// font, scaled by how much narrower and lower the smaller font's characters are.
class DialogUnits {
  public:
    explicit DialogUnits(const QFont& font);
    DialogUnits(const QFont& font, const QFont& smaller);

    QPoint Point(int x, int y) const {
        return QPoint(Pixels(x, charWidth_, 4), Pixels(y, charHeight_, 8));
    }
    QRect Rect(int x, int y, int w, int h) const {
        const QPoint at = Point(x, y);
        const QPoint size = Point(w, h);
        return QRect(at.x(), at.y(), size.x(), size.y());
    }

  private:
    // Truncated like Windows' conversion; the small addend keeps exact products exact.
    int Pixels(int units, double base, int per) const {
        return static_cast<int>(units * base / per + 1e-9);
    }

    double charWidth_ = 6;
    double charHeight_ = 13;
};

}  // namespace tarnflow
