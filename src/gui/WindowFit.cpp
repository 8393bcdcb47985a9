#include "gui/WindowFit.h"

#include <QFontInfo>

namespace tarnflow {

std::vector<DialogScale> DialogScales(const QFont& dialogFont) {
    std::vector<DialogScale> scales{{dialogFont, DialogUnits(dialogFont)}};
    const int pixels = QFontInfo(dialogFont).pixelSize();
    for (int size = pixels - 1; 3 * size >= 2 * pixels; --size) {
        QFont smaller = dialogFont;
        smaller.setPixelSize(size);
        scales.push_back({smaller, DialogUnits(dialogFont, smaller)});
    }
    return scales;
}

DialogScale FitDialogScale(const QFont& dialogFont, QSize layout, QSize available, QMargins frame) {
    const std::vector<DialogScale> scales = DialogScales(dialogFont);
    for (const DialogScale& scale : scales) {
        const QSize framed =
            scale.units.Rect(0, 0, layout.width(), layout.height()).size().grownBy(frame);
        if (framed.width() <= available.width() && framed.height() <= available.height()) {
            return scale;
        }
    }
    return scales.back();
}

}  // namespace tarnflow
