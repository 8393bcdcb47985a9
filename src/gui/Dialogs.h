#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/OwnerWindow.h"

class QMessageBox;
class QWidget;

namespace tarnflow {

// The modal dialogs of the window, behind an interface so that tests answer them.
class IDialogs {
  public:
    virtual ~IDialogs() = default;
    virtual int MessageBox(QWidget* owner, const std::string& text, MessageBoxStyle style) = 0;
    // The chosen file, or nothing when the operator cancelled. `filter` is in the
    // "Name (*.ext)|*.ext|All Files (*.*)|*.*||" form.
    virtual std::optional<std::string> OpenFile(QWidget* owner, const std::string& filter,
                                                const std::string& initialFile,
                                                const std::string& defaultExtension) = 0;
    virtual void About(QWidget* owner) = 0;
};

// QMessageBox and QFileDialog.
class QtDialogs : public IDialogs {
  public:
    int MessageBox(QWidget* owner, const std::string& text, MessageBoxStyle style) override;
    std::optional<std::string> OpenFile(QWidget* owner, const std::string& filter,
                                        const std::string& initialFile,
                                        const std::string& defaultExtension) override;
    void About(QWidget* owner) override;
};

// A message box of the style: its icon (none for a plain OK box), its buttons, and the frame
// of a dialog.
std::unique_ptr<QMessageBox> NewMessageBox(QWidget* owner, const std::string& text,
                                           MessageBoxStyle style);

// The frame of a dialog: a title and a close button, no minimise or maximise button.
void UseDialogFrame(QWidget* dialog);

// "Code File (*.bin)|*.bin|All Files (*.*)|*.*||" -> "Code File (*.bin);;All Files (*.*)".
std::string QtFilterText(const std::string& filter);

}  // namespace tarnflow
