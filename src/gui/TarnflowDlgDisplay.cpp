// The entries' display: stages, labels, bars, status logs and the visible log.
#include <QLabel>
#include <QLineEdit>
#include <QTextEdit>

#include "gui/MySliderCtrl.h"
#include "gui/TarnflowDlg.h"
#include "gui/TextProgressCtrl.h"

namespace tarnflow {

namespace {

QColor ToQColor(const Rgb& c) {
    return QColor(c.r, c.g, c.b);
}

}  // namespace

void CTarnflowDlg::ShowEntryProgress(int entry, int stage, bool redraw) {
    if (entry < 0 || entry >= kEntryCount) {
        return;
    }
    const ProgressView view = engine_->DescribeProgress(entry, stage);
    CTextProgressCtrl* bar = bars_[entry];
    bar->SetBarColor(ToQColor(view.barColor));
    if (view.buttonFaceBackground) {
        bar->SetBackColor(palette().color(QPalette::Button));
    }
    bar->SetPos(view.position);
    if (redraw) {
        bar->update();  // a colour change shows even when the width did not change
    }
    labels_[entry]->setText(QString::fromStdString(view.label));
}

void CTarnflowDlg::UpdateEntryLabels() {
    for (int i = 0; i < kEntryCount; ++i) {
        const int port = engine_->entries[i].comPort;
        labels_[i]->setEnabled(port != 0);
        labels_[i]->setText(QString::fromStdString(EntryLabel(i, port)));
    }
    UpdateData(false);
}

void CTarnflowDlg::ResetProgressBars() {
    for (CTextProgressCtrl* bar : bars_) {
        bar->SetRange(0, 100);
        bar->SetPos(0);
        bar->SetTextOnBarColor(ToQColor(kWhite));
        bar->SetBackColor(palette().color(QPalette::Button));
        bar->SetBarColor(ToQColor(kNavy));
        bar->SetTextColor(ToQColor(kNavy));
        bar->SetText(QString());
        bar->update();
    }
    UpdateData(false);
}

// Each text on a new line, bold, in its type's colour; the first line of a log stays empty.
void CTarnflowDlg::AppendStatusItem(int entry, const CTextQItem& item) {
    if (entry < 0 || entry >= kEntryCount || !engine_->entries[entry].linkOpen) {
        return;
    }
    QTextEdit* log = logs_[entry];
    QTextCursor cursor = log->textCursor();
    cursor.movePosition(QTextCursor::End);
    QTextCharFormat format;
    format.setFontWeight(QFont::Bold);
    format.setForeground(ToQColor(ColorForTextType(item.type)));
    cursor.insertText("\n" + QString::fromStdString(item.text), format);
    log->setTextCursor(cursor);
    log->ensureCursorVisible();
    UpdateData(false);
}

void CTarnflowDlg::SetElapsedText(const std::string& text) {
    static_cast<QLineEdit*>(Control(IDC_ELAPSED))->setText(QString::fromStdString(text));
}

void CTarnflowDlg::ShowEntryLog(int entry) {
    for (int i = 0; i < kEntryCount; ++i) {
        logs_[i]->setVisible(i == entry);
    }
}

int CTarnflowDlg::OnSliderMoved() {
    m_nShownLog = slider_->value();
    ShowEntryLog(m_nShownLog);
    UpdateData(false);
    return 1;
}

void CTarnflowDlg::OnClearStatus() {
    for (QTextEdit* log : logs_) {
        log->clear();
    }
}

}  // namespace tarnflow
