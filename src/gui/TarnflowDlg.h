#pragma once

#include <QDialog>
#include <QEvent>
#include <QMargins>
#include <array>
#include <map>
#include <memory>
#include <string>

#include "engine/DloadEngine.h"
#include "engine/EngineHost.h"
#include "engine/PerfMonitor.h"
#include "gui/DialogUnits.h"
#include "gui/Dialogs.h"
#include "gui/WindowFit.h"
#include "platform/Clock.h"
#include "platform/HotPlugWatch.h"

class QComboBox;
class QScreen;
class QStyle;
class QLabel;
class QLineEdit;
class QSocketNotifier;
class QTextEdit;
class QTimer;
class QPushButton;
class QAction;
class QMenu;

namespace tarnflow {

class CMySliderCtrl;
class CTextProgressCtrl;

// Control IDs of the main window.
enum ControlId : int {
    IDC_FILE_NAME = 1001,
    IDC_FILE_LABEL = 1004,
    IDC_SIZE_LABEL = 1007,
    IDC_VERSION_LABEL = 1008,
    IDC_BYTES_LABEL = 1009,
    IDC_BUILD_TIME_LABEL = 1010,
    IDC_DOWNLOAD = 1011,
    IDC_IMAGE_SIZE = 1012,
    IDC_FILE_VERSION = 1013,
    IDC_BUILD_TIME = 1014,
    IDC_ELAPSED = 1015,
    IDC_SLIDER_LOG = 1017,
    IDC_LOG_SEL_TEXT = 1018,
    IDC_CODE_NEW = 1021,
    IDC_VPX_BOOT = 1022,
    IDC_VPX_CODE = 1023,
    IDC_VPX_FONT = 1024,
    IDC_VPX_CONTENTS = 1025,
    IDC_CODE_NEW_PATH = 1026,
    IDC_VPX_BOOT_PATH = 1027,
    IDC_VPX_CODE_PATH = 1028,
    IDC_VPX_FONT_PATH = 1029,
    IDC_VPX_CONTENTS_PATH = 1030,
    IDC_BOOT_AREA = 1031,
    IDC_CODE_OLD = 1032,
    IDC_FONT = 1034,
    IDC_PORT_SEARCH = 1035,
    IDC_FONT_PATH = 1036,
    IDC_FONT_ADDRESS = 1037,
    IDC_VPX_FACTORYFS = 1038,
    IDC_VPX_FACTORYFS_PATH = 1039,
    IDC_LABEL_FIRST = 1040,
    IDC_CODE_OLD_PATH = 1061,
    IDC_PROGRESS_FIRST = 1080,
    IDC_LOG_FIRST = 1100,
    IDC_VPX_LFS = 1140,
    IDC_VPX_LFS_PATH = 1141,
    IDC_CLEAR_STATUS = 1142,
    IDC_COMPARE = 1144,
    IDC_DLOAD_TYPE = 1150,
};

// The main window: every control of the operator, the twenty entries' display, image
// selection, port discovery, and the host of the download engine it owns.
class CTarnflowDlg : public QDialog, public IEngineHost {
    Q_OBJECT
  public:
    // `loadSource` is where the processor load is sampled (a /proc/stat style file).
    explicit CTarnflowDlg(IDialogs& dialogs,
                          const std::string& loadSource = CPerfMonitor::kDefaultSource,
                          QWidget* parent = nullptr);
    ~CTarnflowDlg() override;

    // IEngineHost.
    void PostMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
    int MessageBox(const std::string& text, MessageBoxStyle style) override;
    void SetTimer(uint32_t id, int intervalMs) override;
    void KillTimer(uint32_t id) override;
    void ShowEntryProgress(int entry, int stage, bool redraw) override;
    void UpdateEntryLabels() override;
    void ResetProgressBars() override;
    void AppendStatusItem(int entry, const CTextQItem& item) override;
    void SetElapsedText(const std::string& text) override;
    void UpdateData(bool saveAndValidate) override;
    void UpdateDialogControls() override;
    void DownloadEnded() override;
    void FocusLogSelector() override;

    // Handlers of the controls.
    void OnDownload();
    void OnPortSearch();
    void OnCompare();
    void OnClearStatus();
    void ToggleImage(int kind);
    bool PromptImageFile(int kind, std::string& path);
    int OnSliderMoved();
    void OnHotPlug();
    void ShowEntryLog(int entry);
    void OnAbout();

    QWidget* Control(int id) const;
    CTextProgressCtrl* Bar(int entry) const { return bars_[entry]; }
    QTextEdit* Log(int entry) const { return logs_[entry]; }
    QLabel* Label(int entry) const { return labels_[entry]; }
    CMySliderCtrl* Slider() const { return slider_; }
    QAction* AboutAction() const { return aboutAction_; }
    QMenu* WindowMenu() const { return windowMenu_; }
    CDloadEngine& Engine() { return *engine_; }
    int ShownLog() const { return m_nShownLog; }
    // Dialog units of the window's font in pixels.
    const DialogUnits& Units() const { return units_; }
    // Sizes the window for a screen's free area, assuming `frame` around it.
    void FitScreen(const QRect& available, const QMargins& frame);
    // Lays the window out in a scale's font and dialog units.
    void ApplyScale(const DialogScale& scale);

  protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    void mousePressEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    void BuildControls();
    void BuildImageRows();
    void BuildButtons();
    void BuildStatusAndEntries();
    void BuildFileInfo();
    static QScreen* OpeningScreen();
    void WatchForFrame();
    void AdoptRealFrame();
    void MakeRoomForTexts();
    template <typename Widget>
    Widget* Place(Widget* widget, int id, int x, int y, int w, int h);
    void StartHotPlugWatch();

    IDialogs& dialogs_;
    bool historyErrorShown_ = false;
    DialogUnits units_;
    // Each control's place in dialog units, kept as a property of the control.
    static constexpr const char* kDialogRect = "dialogRect";
    QMargins fittedFrame_;
    bool frameAdopted_ = false;
    SteadyClock clock_;
    std::unique_ptr<CDloadEngine> engine_;
    std::map<int, QWidget*> controls_;
    std::array<CTextProgressCtrl*, kEntryCount> bars_{};
    std::array<QTextEdit*, kEntryCount> logs_{};
    std::array<QLabel*, kEntryCount> labels_{};
    std::array<QPushButton*, kImageKindCount> kindButtons_{};
    std::array<QLineEdit*, kImageKindCount> kindPaths_{};
    QStyle* pushLikeStyle_ = nullptr;  // the image buttons' style
    CMySliderCtrl* slider_ = nullptr;
    QComboBox* dloadType_ = nullptr;
    QAction* aboutAction_ = nullptr;
    QMenu* windowMenu_ = nullptr;
    std::map<uint32_t, QTimer*> timers_;
    HotPlugWatch hotPlug_;
    QSocketNotifier* hotPlugNotifier_ = nullptr;
    int m_nShownLog = 0;
};

}  // namespace tarnflow
