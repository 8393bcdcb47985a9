// Image selection, the remembered folder, and the buttons that hand over to the engine.
#include <QLineEdit>
#include <QPushButton>

#include "comm/Registry.h"
#include "engine/ImageFiles.h"
#include "gui/TarnflowDlg.h"

namespace tarnflow {

namespace {

constexpr const char* kFolderValue = "NEW_PHONE_BIN_PATH";
constexpr const char* kDefaultFolder = "/";  // the root of the system drive

const char* FilterText(int kind) {
    switch (kind) {
        case KIND_FONT:
        case KIND_VPX_FONT:
            return "Font File (*.bin)|*.bin|All Files (*.*)|*.*||";
        case KIND_VPX_BOOT:
            return "Boot File (*.bin)|*.bin|All Files (*.*)|*.*||";
        case KIND_VPX_CONTENTS:
            return "Contents File (*.rbin)|*.rbin|All Files (*.*)|*.*||";
        case KIND_VPX_LFS:
            return "Linear FS File (*.lfs)|*.lfs|All Files (*.*)|*.*||";
        case KIND_VPX_FACTORYFS:
            return "Factory FS File (*.ffs)|*.ffs|All Files (*.*)|*.*||";
        default:
            return "Code File (*.bin)|*.bin|All Files (*.*)|*.*||";
    }
}

}  // namespace

bool CTarnflowDlg::PromptImageFile(int kind, std::string& path) {
    const std::string stored = CRegistry::ReadString(kFolderValue);
    std::string folder = stored.empty() ? std::string(kDefaultFolder) : stored;
    if (folder.back() != '/') {
        folder.push_back('/');  // a value edited by hand: still a folder
    }
    // Built by appending: g++ 12 at -O2 warns falsely (-Wrestrict) on short literal strings.
    std::string filter = kind <= KIND_FONT ? "Phone" : "VPX";
    filter.append(" ").append(FilterText(kind));
    std::string initial = std::move(folder);
    initial.append("*.").append(ImageExtension(kind));
    const auto chosen = dialogs_.OpenFile(this, filter, initial, ImageExtension(kind));
    if (!chosen) {
        return false;
    }
    if (!HasImageExtension(*chosen, kind)) {
        MessageBox("다운로드용 파일이 아닙니다.", MessageBoxStyle::Ok);
        return false;
    }
    const size_t slash = chosen->find_last_of('/');
    CRegistry::WriteString(
        kFolderValue, slash == std::string::npos ? kDefaultFolder : chosen->substr(0, slash + 1));
    path = *chosen;
    return true;
}

void CTarnflowDlg::ToggleImage(int kind) {
    UpdateData(true);
    DownloadSelection& s = engine_->selection;
    std::string path;
    if (s.check[kind] && !PromptImageFile(kind, path)) {
        s.check[kind] = 0;
        path.clear();
    }
    s.imagePath[kind] = path;
    UpdateData(false);
    if ((kind == KIND_CODE_NEW && !s.check[KIND_CODE_NEW]) ||
        (kind == KIND_CODE_OLD && !s.check[KIND_CODE_OLD])) {
        s.m_bChangeBootArea = 0;
    } else if (kind == KIND_FONT) {
        s.m_strFontAddress.clear();
        s.fontStartAddress = 0;
    }
    UpdateData(false);
}

void CTarnflowDlg::OnDownload() {
    engine_->OnDownload();
}

void CTarnflowDlg::OnCompare() {
    engine_->OnCompare();
}

}  // namespace tarnflow
