#pragma once

#include <QFont>
#include <QMargins>
#include <vector>

#include "gui/DialogUnits.h"

namespace tarnflow {

// What a window manager's frame is assumed to add before the real frame is known: a title bar
// as tall as the usual desktops draw it, and thin borders.
inline constexpr QMargins kFrameAllowance{4, 40, 4, 4};

// The dialog font and its dialog units at one scale.
struct DialogScale {
    QFont font;
    DialogUnits units;
};

// The scales the window may take, largest first: the dialog font at its own size, then one
// pixel smaller at each step (fonts are drawn at whole pixel sizes) down to two thirds of it
// (6 points for a 9-point font), below which the captions become unreadable. The dialog units
// shrink with the font, so texts keep their proportion to the controls.
std::vector<DialogScale> DialogScales(const QFont& dialogFont);

}  // namespace tarnflow
