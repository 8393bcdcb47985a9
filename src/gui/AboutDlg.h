#pragma once

#include <QDialog>

namespace tarnflow {

// The About box: the program's name and version, the phone models it supports, and "확인".
class CAboutDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    static constexpr const char* kTitle = "Tarnflow 정보";
    static constexpr const char* kNameLine = "Tarnflow [QV12, QV12-S] beta 1.9.6";
    static constexpr const char* kSecondLine = "Serial boot loader download";
};

}  // namespace tarnflow
