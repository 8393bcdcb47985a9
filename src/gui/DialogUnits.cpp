#include "gui/DialogUnits.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QStringList>
#include <algorithm>

namespace tarnflow {

namespace {

constexpr const char* kLetters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

// The mean advance of the 52 Latin letters, which Windows takes as the average width.
double MeanLetterWidth(const QFont& font) {
    return QFontMetricsF(font).horizontalAdvance(kLetters) / 52.0;
}

}  // namespace

QFont DialogFont() {
    const QStringList families = QFontDatabase::families();
    for (const char* family : {"굴림", "Gulim", "NanumGothic", "Noto Sans CJK KR"}) {
        if (families.contains(QString::fromUtf8(family))) {
            return QFont(QString::fromUtf8(family), 9);
        }
    }
    QFont font;
    font.setPointSize(9);
    return font;
}

DialogUnits::DialogUnits(const QFont& font) {
    // Whole pixels, as Windows takes them: the average width rounded, the height.
    const QFontMetrics metrics(font);
    charWidth_ = std::max(1, (metrics.horizontalAdvance(kLetters) / 26 + 1) / 2);
    charHeight_ = std::max(1, metrics.height());
}

DialogUnits::DialogUnits(const QFont& font, const QFont& smaller) : DialogUnits(font) {
    charWidth_ *= MeanLetterWidth(smaller) / MeanLetterWidth(font);
    charHeight_ *= QFontMetricsF(smaller).height() / QFontMetricsF(font).height();
}

}  // namespace tarnflow
