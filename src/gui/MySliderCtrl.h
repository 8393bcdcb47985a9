#pragma once

#include <QSlider>

namespace tarnflow {

// The status log selector: tells its owner (Moved) after every key press and after a left
// button release that followed mouse movement over it; other position changes stay silent.
class CMySliderCtrl : public QSlider {
    Q_OBJECT
  public:
    explicit CMySliderCtrl(QWidget* parent = nullptr);

  signals:
    void Moved();

  protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    bool moved_ = false;
};

}  // namespace tarnflow
