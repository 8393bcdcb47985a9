#pragma once

#include <QIcon>

namespace tarnflow {

// The application's icon, drawn in six sizes: a phone with a download arrow.
QIcon ApplicationIcon();

// The picture of the About box, 32 pixels.
QPixmap AboutPicture();

}  // namespace tarnflow
