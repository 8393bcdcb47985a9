#include "gui/Tarnflow.h"

#include "gui/AppIcons.h"
#include "gui/Dialogs.h"
#include "gui/TarnflowDlg.h"

namespace tarnflow {

CTarnflowApp::CTarnflowApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName("Tarnflow");
    setWindowIcon(ApplicationIcon());
}

int CTarnflowApp::InitInstance() {
    QtDialogs dialogs;
    CTarnflowDlg dialog(dialogs);
    dialog.exec();
    return 0;
}

}  // namespace tarnflow
