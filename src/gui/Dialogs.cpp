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

int QtDialogs::MessageBox(QWidget* owner, const std::string& text, MessageBoxStyle style) {
    const QString message = QString::fromStdString(text);
    switch (style) {
        case MessageBoxStyle::Information:
            QMessageBox::information(owner, "Tarnflow", message);
            return IDOK;
        case MessageBoxStyle::YesNo:
        case MessageBoxStyle::YesNoExclamationModal: {
            QMessageBox box(
                style == MessageBoxStyle::YesNo ? QMessageBox::Question : QMessageBox::Warning,
                "Tarnflow", message, QMessageBox::Yes | QMessageBox::No, owner);
            if (style == MessageBoxStyle::YesNoExclamationModal) {
                box.setWindowModality(Qt::ApplicationModal);
            }
            return box.exec() == QMessageBox::Yes ? IDYES : IDNO;
        }
        case MessageBoxStyle::Ok:
            break;
    }
    QMessageBox box(QMessageBox::NoIcon, "Tarnflow", message, QMessageBox::Ok, owner);
    box.exec();
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
