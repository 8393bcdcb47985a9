#include "gui/MySliderCtrl.h"

#include <QKeyEvent>
#include <QMouseEvent>

namespace tarnflow {

CMySliderCtrl::CMySliderCtrl(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    setTickPosition(QSlider::TicksBelow);
    setMouseTracking(true);  // any movement over the control counts, button held or not
}

void CMySliderCtrl::mouseMoveEvent(QMouseEvent* event) {
    QSlider::mouseMoveEvent(event);
    moved_ = true;
}

void CMySliderCtrl::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        if (moved_) {
            emit Moved();
        }
        moved_ = false;
    }
    QSlider::mouseReleaseEvent(event);
}

void CMySliderCtrl::keyPressEvent(QKeyEvent* event) {
    QSlider::keyPressEvent(event);
    emit Moved();
}

}  // namespace tarnflow
