#include "gui/DialogUnits.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QStringList>
#include <algorithm>

namespace tarnflow {

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
    const QFontMetrics metrics(font);
    // The average character width as Windows takes it: the mean advance of the 52 Latin
    // letters, rounded.
    const int letters =
        metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    charWidth_ = std::max(1, (letters / 26 + 1) / 2);
    charHeight_ = std::max(1, metrics.height());
}

}  // namespace tarnflow
