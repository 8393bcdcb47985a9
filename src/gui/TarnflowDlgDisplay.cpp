// The entries' display, data exchange and the enable rules.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
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
}

void CTarnflowDlg::SetElapsedText(const std::string& text) {
    static_cast<QLineEdit*>(Control(IDC_ELAPSED))->setText(QString::fromStdString(text));
}

QAbstractButton* CTarnflowDlg::KindButton(int kind) const {
    static constexpr int kIds[kImageKindCount] = {
        IDC_CODE_NEW, IDC_CODE_OLD,     IDC_FONT,    IDC_VPX_BOOT,     IDC_VPX_CODE,
        IDC_VPX_FONT, IDC_VPX_CONTENTS, IDC_VPX_LFS, IDC_VPX_FACTORYFS};
    return static_cast<QAbstractButton*>(Control(kIds[kind]));
}

QLineEdit* CTarnflowDlg::KindPath(int kind) const {
    static constexpr int kIds[kImageKindCount] = {
        IDC_CODE_NEW_PATH,     IDC_CODE_OLD_PATH, IDC_FONT_PATH,
        IDC_VPX_BOOT_PATH,     IDC_VPX_CODE_PATH, IDC_VPX_FONT_PATH,
        IDC_VPX_CONTENTS_PATH, IDC_VPX_LFS_PATH,  IDC_VPX_FACTORYFS_PATH};
    return static_cast<QLineEdit*>(Control(kIds[kind]));
}

void CTarnflowDlg::UpdateData(bool saveAndValidate) {
    DownloadSelection& s = engine_->selection;
    auto* bootArea = static_cast<QCheckBox*>(Control(IDC_BOOT_AREA));
    auto* fontAddress = static_cast<QLineEdit*>(Control(IDC_FONT_ADDRESS));
    auto* imageSize = static_cast<QLineEdit*>(Control(IDC_IMAGE_SIZE));
    auto* logSel = static_cast<QLineEdit*>(Control(IDC_LOG_SEL_TEXT));
    if (saveAndValidate) {
        for (int kind = 0; kind < kImageKindCount; ++kind) {
            s.check[kind] = KindButton(kind)->isChecked() ? 1 : 0;
            s.imagePath[kind] = KindPath(kind)->text().toStdString();
        }
        s.m_bChangeBootArea = bootArea->isChecked() ? 1 : 0;
        s.m_strFontAddress = fontAddress->text().toStdString();
        s.m_nDloadType = std::max(0, dloadType_->currentIndex());
        return;
    }
    const QSignalBlocker blockFont(fontAddress);
    for (int kind = 0; kind < kImageKindCount; ++kind) {
        KindButton(kind)->setChecked(s.check[kind] != 0);
        KindPath(kind)->setText(QString::fromStdString(s.imagePath[kind]));
    }
    bootArea->setChecked(s.m_bChangeBootArea != 0);
    if (fontAddress->text().toStdString() != s.m_strFontAddress) {
        fontAddress->setText(QString::fromStdString(s.m_strFontAddress));
    }
    dloadType_->setCurrentIndex(s.m_nDloadType);
    imageSize->setText(QString::number(engine_->m_dwImageSize));
    logSel->setText(QString("Entry %1").arg(m_nShownLog + 1));
}

void CTarnflowDlg::UpdateDialogControls() {
    const DownloadSelection& s = engine_->selection;
    const bool busy = engine_->IsAnyEntryBusy();
    Control(IDC_DOWNLOAD)
        ->setEnabled(s.IsPhoneImageChosen() != s.IsVpxImageChosen() &&
                     engine_->connectedCount >= 1 && !busy);
    for (int id : {IDC_CODE_NEW, IDC_FONT, IDC_VPX_BOOT, IDC_VPX_CODE, IDC_VPX_FONT,
                   IDC_VPX_CONTENTS, IDC_VPX_LFS, IDC_VPX_FACTORYFS, IDC_PORT_SEARCH}) {
        Control(id)->setEnabled(!busy);
    }
    Control(IDC_BOOT_AREA)->setEnabled(s.check[KIND_CODE_NEW] && !busy);
    Control(IDC_FONT_ADDRESS)->setEnabled(s.check[KIND_FONT] && !busy);
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
