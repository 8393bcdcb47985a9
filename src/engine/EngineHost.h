#pragma once

#include <cstdint>
#include <string>

#include "comm/QTextQ.h"
#include "platform/OwnerWindow.h"

namespace tarnflow {

// What the download engine needs from the window that owns it: posting and message boxes
// (IOwnerWindow), window timers, the display, data exchange and the font address check. The
// Qt window, the command line's headless host and the tests implement it. Every call but
// PostMessage comes on the user-interface thread.
class IEngineHost : public IOwnerWindow {
  public:
    // Window timers by ID: periodic until killed; setting an armed ID replaces it.
    virtual void SetTimer(uint32_t id, int intervalMs) = 0;
    virtual void KillTimer(uint32_t id) = 0;

    // The display of one entry for a stage (PROG_*); CDloadEngine::DescribeProgress gives the
    // texts and colours.
    virtual void ShowEntryProgress(int entry, int stage, bool redraw) = 0;
    virtual void UpdateEntryLabels() = 0;
    virtual void ResetProgressBars() = 0;
    // One status text moving from an entry's queue into its log.
    virtual void AppendStatusItem(int entry, const CTextQItem& item) = 0;
    virtual void SetElapsedText(const std::string& text) = 0;

    // Data exchange: true copies the controls into the engine's selection, false the other way.
    // (The font address check itself is the engine's: CDloadEngine::ValidateFontAddress.)
    virtual void UpdateData(bool saveAndValidate) = 0;

    // A download has ended: no entry can still finish (see CDloadEngine::DownloadRunning).
    virtual void DownloadEnded() {}

    // The enable rules of the controls, run by the update timer.
    virtual void UpdateDialogControls() {}
    virtual void FocusLogSelector() {}
};

}  // namespace tarnflow
