#pragma once

#include <QApplication>

namespace tarnflow {

// The application: runs the main window modally and ends when it closes.
class CTarnflowApp : public QApplication {
  public:
    CTarnflowApp(int& argc, char** argv);
    int InitInstance();
};

}  // namespace tarnflow
