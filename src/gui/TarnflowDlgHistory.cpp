// Every download the window runs goes into the history file, so that a day's work at a rig is
// on disk after the window is closed.
#include "engine/DownloadReport.h"
#include "gui/TarnflowDlg.h"

namespace tarnflow {

void CTarnflowDlg::DownloadEnded() {
    const DownloadReport report = ReportOfDownload(*engine_, "tarnflow", KnownDevice, "", "");
    std::string error;
    if (!AppendToHistory(report, error) && !historyErrorShown_) {
        // Once per session: the operator should know, but the rig must keep working.
        historyErrorShown_ = true;
        MessageBox(error, MessageBoxStyle::Information);
    }
}

}  // namespace tarnflow
