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

}  // namespace tarnflow
