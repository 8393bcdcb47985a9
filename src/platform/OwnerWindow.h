#pragma once

#include <cstdint>
#include <string>

#include "platform/Messages.h"

namespace tarnflow {

// Message box styles the system uses. Yes/No boxes answer IDYES or IDNO, the others IDOK.
enum class MessageBoxStyle {
    Ok,                    // plain OK box
    Information,           // OK box with the information icon
    YesNo,                 // question with Yes and No
    YesNoExclamationModal  // Yes/No, exclamation icon, system-modal
};

inline constexpr int IDOK = 1;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

// The window that owns the link objects, image files and receive threads: the main window, the
// command line's headless host, or a test's stand-in.
class IOwnerWindow {
  public:
    virtual ~IOwnerWindow() = default;

    // Queues a notification for the owner's thread; never waits for it to be handled.
    // Safe to call from any thread.
    virtual void PostMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;

    // Shows a modal message box and returns the answer. User-interface thread only.
    virtual int MessageBox(const std::string& text, MessageBoxStyle style) = 0;
};

}  // namespace tarnflow
