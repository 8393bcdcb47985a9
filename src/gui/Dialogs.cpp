#include "gui/Dialogs.h"

#include <QDialog>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <vector>

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
    QMessageBox::warning(owner, "Tarnflow", message);
    return IDOK;
}

std::optional<std::string> QtDialogs::OpenFile(QWidget* owner, const std::string& filter,
                                               const std::string& initialFile,
                                               const std::string& defaultExtension) {
    QFileDialog dialog(owner, QString(), QString::fromStdString(initialFile),
                       QString::fromStdString(QtFilterText(filter)));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(QString::fromStdString(defaultExtension));
    dialog.setOption(QFileDialog::ReadOnly, false);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().front().toStdString();
}

void QtDialogs::About(QWidget* owner) {
    QDialog about(owner);
    about.setWindowTitle("Tarnflow 정보");
    auto* name = new QLabel("Tarnflow [QV12, QV12-S] beta 1.9.6", &about);
    auto* line = new QLabel("Serial boot loader download for up to twenty phones", &about);
    auto* ok = new QPushButton("확인", &about);
    name->setGeometry(40, 14, 300, 16);
    line->setGeometry(40, 36, 300, 16);
    ok->setGeometry(270, 56, 75, 24);
    about.resize(355, 90);
    QObject::connect(ok, &QPushButton::clicked, &about, &QDialog::accept);
    about.exec();
}

}  // namespace tarnflow
