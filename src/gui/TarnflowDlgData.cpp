// Data exchange between the controls and the engine's selection, and the enable rules.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include "gui/TarnflowDlg.h"

namespace tarnflow {

void CTarnflowDlg::UpdateData(bool saveAndValidate) {
    DownloadSelection& s = engine_->selection;
    auto* bootArea = static_cast<QCheckBox*>(Control(IDC_BOOT_AREA));
    auto* fontAddress = static_cast<QLineEdit*>(Control(IDC_FONT_ADDRESS));
    auto* imageSize = static_cast<QLineEdit*>(Control(IDC_IMAGE_SIZE));
    auto* logSel = static_cast<QLineEdit*>(Control(IDC_LOG_SEL_TEXT));
    if (saveAndValidate) {
        for (int kind = 0; kind < kImageKindCount; ++kind) {
            s.check[kind] = kindButtons_[kind]->isChecked() ? 1 : 0;
            s.imagePath[kind] = kindPaths_[kind]->text().toStdString();
        }
        s.m_bChangeBootArea = bootArea->isChecked() ? 1 : 0;
        s.m_strFontAddress = fontAddress->text().toStdString();
        s.m_nDloadType = std::max(0, dloadType_->currentIndex());
        return;
    }
    const QSignalBlocker blockFont(fontAddress);
    for (int kind = 0; kind < kImageKindCount; ++kind) {
        kindButtons_[kind]->setChecked(s.check[kind] != 0);
        kindPaths_[kind]->setText(QString::fromStdString(s.imagePath[kind]));
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
                     engine_->connectedCount() >= 1 && !busy);
    for (int id : {IDC_CODE_NEW, IDC_FONT, IDC_VPX_BOOT, IDC_VPX_CODE, IDC_VPX_FONT,
                   IDC_VPX_CONTENTS, IDC_VPX_LFS, IDC_VPX_FACTORYFS, IDC_PORT_SEARCH}) {
        Control(id)->setEnabled(!busy);
    }
    Control(IDC_BOOT_AREA)->setEnabled(s.check[KIND_CODE_NEW] && !busy);
    Control(IDC_FONT_ADDRESS)->setEnabled(s.check[KIND_FONT] && !busy);
}

}  // namespace tarnflow
