#include "gui/Dialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <vector>

#include "gui/AboutDlg.h"

namespace tarnflow {

std::string QtFilterText(const std::string& filter) {
    // Pairs of name|pattern; the names already carry their patterns.
    std::vector<std::string> parts;
    size_t start = 0;
    while (start < filter.size()) {
        const size_t bar = filter.find('|', start);
        const size_t end = bar == std::string::npos ? filter.size() : bar;
        parts.push_back(filter.substr(start, end - start));
        start = end + 1;
    }
    std::string text;
    for (size_t i = 0; i < parts.size(); i += 2) {
        if (parts[i].empty()) {
            break;
        }
        text += (text.empty() ? "" : ";;") + parts[i];
    }
    return text;
}

void UseDialogFrame(QWidget* dialog) {
    dialog->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
}

std::unique_ptr<QMessageBox> NewMessageBox(QWidget* owner, const std::string& text,
                                           MessageBoxStyle style) {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    switch (style) {
        case MessageBoxStyle::Ok:
            break;
        case MessageBoxStyle::Information:
            icon = QMessageBox::Information;
            break;
        case MessageBoxStyle::YesNo:
            icon = QMessageBox::Question;
            buttons = QMessageBox::Yes | QMessageBox::No;
            break;
        case MessageBoxStyle::YesNoExclamationModal:
            icon = QMessageBox::Warning;
            buttons = QMessageBox::Yes | QMessageBox::No;
            break;
    }
    auto box = std::make_unique<QMessageBox>(icon, "Tarnflow", QString::fromStdString(text),
                                             buttons, owner);
    UseDialogFrame(box.get());
    if (style == MessageBoxStyle::YesNoExclamationModal) {
        box->setWindowModality(Qt::ApplicationModal);
    }
    return box;
}

int QtDialogs::MessageBox(QWidget* owner, const std::string& text, MessageBoxStyle style) {
    const int answer = NewMessageBox(owner, text, style)->exec();
    if (style == MessageBoxStyle::YesNo || style == MessageBoxStyle::YesNoExclamationModal) {
        return answer == QMessageBox::Yes ? IDYES : IDNO;
    }
    return IDOK;
}

std::optional<std::string> QtDialogs::OpenFile(QWidget* owner, const std::string& filter,
                                               const std::string& initialFile,
                                               const std::string& defaultExtension) {
    // "folder/*.ext": the dialog opens in the folder with the pattern in its name box.
    const QString initial = QString::fromStdString(initialFile);
    const qsizetype slash = initial.lastIndexOf('/');
    QFileDialog dialog(owner, QString(), initial.left(slash + 1),
                       QString::fromStdString(QtFilterText(filter)));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(QString::fromStdString(defaultExtension));
    dialog.selectFile(initial.mid(slash + 1));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().front().toStdString();
}

void QtDialogs::About(QWidget* owner) {
    CAboutDlg about(owner);
    about.exec();
}

}  // namespace tarnflow
