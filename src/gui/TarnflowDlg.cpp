// The main window: its controls, built in code from the control table in dialog units.
#include "gui/TarnflowDlg.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QTextEdit>
#include <QWindow>

#include "gui/AppIcons.h"
#include "gui/MySliderCtrl.h"
#include "gui/PushLikeStyle.h"
#include "gui/TextProgressCtrl.h"

namespace tarnflow {

namespace {

struct ImageRow {
    int kind;
    int buttonId;
    const char* caption;
    int pathId;
    int y;
    int pathY;
};

// The image buttons: push-like check boxes with their read-only path boxes.
constexpr ImageRow kImageRows[] = {
    {KIND_CODE_NEW, IDC_CODE_NEW, "&Code...(NEW)", IDC_CODE_NEW_PATH, 19, 19},
    {KIND_CODE_OLD, IDC_CODE_OLD, "&Code...(OLD)", IDC_CODE_OLD_PATH, 54, 53},
    {KIND_FONT, IDC_FONT, "&Font...", IDC_FONT_PATH, 85, 85},
    {KIND_VPX_BOOT, IDC_VPX_BOOT, "&Boot...", IDC_VPX_BOOT_PATH, 162, 162},
    {KIND_VPX_CODE, IDC_VPX_CODE, "C&ode...", IDC_VPX_CODE_PATH, 180, 180},
    {KIND_VPX_FONT, IDC_VPX_FONT, "Fo&nt...", IDC_VPX_FONT_PATH, 198, 198},
    {KIND_VPX_CONTENTS, IDC_VPX_CONTENTS, "Con&tents...", IDC_VPX_CONTENTS_PATH, 217, 217},
    {KIND_VPX_LFS, IDC_VPX_LFS, "&LFS...", IDC_VPX_LFS_PATH, 236, 236},
    // FactoryFS in the VPX frame below LFS, where it covers no entry row.
    {KIND_VPX_FACTORYFS, IDC_VPX_FACTORYFS, "F&actoryFS...", IDC_VPX_FACTORYFS_PATH, 255, 255},
};

constexpr int kRowY[10] = {330, 350, 372, 392, 412, 432, 452, 472, 492, 512};
// Entry labels reach from their column's left edge to the next column, or near the frame's edge:
// room for the longest texts of images below 16 MiB.
constexpr int kEntryLabelWidth = 214;

}  // namespace

CTarnflowDlg::CTarnflowDlg(IDialogs& dialogs, const std::string& loadSource, QWidget* parent)
    : QDialog(parent),
      dialogs_(dialogs),
      units_(DialogFont()),
      engine_(std::make_unique<CDloadEngine>(*this, clock_)) {
    setWindowTitle("Compare_Tarnflow QV12 Ver01");
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setWindowIcon(ApplicationIcon());
    pushLikeStyle_ = new PushLikeStyle;
    pushLikeStyle_->setParent(this);
    BuildControls();
    FitScreen(OpeningScreen()->availableGeometry(), kFrameAllowance);

    aboutAction_ = new QAction(QString::fromUtf8("Tarnflow 정보(&A)..."), this);
    aboutAction_->setMenuRole(QAction::AboutRole);
    aboutAction_->setShortcut(QKeySequence::HelpContents);  // F1
    addAction(aboutAction_);
    connect(aboutAction_, &QAction::triggered, this, &CTarnflowDlg::OnAbout);
    windowMenu_ = new QMenu(this);
    windowMenu_->addSeparator();
    windowMenu_->addAction(aboutAction_);

    // The start-up of the window: entries reset, bars reset, timers started, entry 1's log.
    engine_->OnInitDialog(loadSource);
    m_nShownLog = 0;
    UpdateData(false);
    ShowEntryLog(0);
    StartHotPlugWatch();
}

template <typename Widget>
Widget* CTarnflowDlg::Place(Widget* widget, int id, int x, int y, int w, int h) {
    widget->setProperty(kDialogRect, QRect(x, y, w, h));
    if (id != 0) {
        widget->setProperty("controlId", id);
        controls_[id] = widget;
    }
    return widget;
}

QWidget* CTarnflowDlg::Control(int id) const {
    const auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second;
}

void CTarnflowDlg::BuildControls() {
    Place(new QGroupBox("Phone", this), 0, 7, 7, 242, 118);
    Place(new QGroupBox("VPX", this), 0, 7, 145, 241, 130);
    Place(new QGroupBox(" &Status ", this), 0, 255, 7, 191, 305);
    Place(new QGroupBox(" Progress ", this), 0, 7, 316, 438, 222);
    BuildImageRows();
    BuildButtons();
    BuildStatusAndEntries();
    BuildFileInfo();
}

void CTarnflowDlg::BuildImageRows() {
    for (const ImageRow& row : kImageRows) {
        auto* button = Place(new QPushButton(row.caption, this), row.buttonId, 13, row.y, 58, 14);
        button->setCheckable(true);  // push-like check box
        button->setStyle(pushLikeStyle_);
        auto* path = Place(new QLineEdit(this), row.pathId, 74, row.pathY, 169, 14);
        path->setReadOnly(true);
        const int kind = row.kind;
        kindButtons_[kind] = button;
        kindPaths_[kind] = path;
        connect(button, &QPushButton::clicked, this, [this, kind] { ToggleImage(kind); });
    }
    auto* check =
        Place(new QCheckBox("Change Phone Boot Area", this), IDC_BOOT_AREA, 13, 35, 95, 10);
    check->setLayoutDirection(Qt::RightToLeft);  // text on the left of the box
    connect(check, &QCheckBox::clicked, this, [this] { UpdateData(true); });

    auto* fontLabel = Place(new QLabel("Font Start Address: 0x", this), 0, 10, 104, 75, 9);
    fontLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto* fontAddress = Place(new QLineEdit(this), IDC_FONT_ADDRESS, 86, 103, 57, 12);
    connect(fontAddress, &QLineEdit::textChanged, this, [this] { UpdateData(true); });
}

void CTarnflowDlg::BuildButtons() {
    auto* download = Place(new QPushButton("&Download", this), IDC_DOWNLOAD, 452, 11, 80, 52);
    download->setDefault(true);
    connect(download, &QPushButton::clicked, this, &CTarnflowDlg::OnDownload);
    connect(Place(new QPushButton("&Port Search", this), IDC_PORT_SEARCH, 452, 76, 80, 16),
            &QPushButton::clicked, this, &CTarnflowDlg::OnPortSearch);
    connect(Place(new QPushButton("Clear Stat&us", this), IDC_CLEAR_STATUS, 452, 97, 80, 16),
            &QPushButton::clicked, this, &CTarnflowDlg::OnClearStatus);
    connect(Place(new QPushButton("Compare", this), IDC_COMPARE, 452, 118, 80, 16),
            &QPushButton::clicked, this, &CTarnflowDlg::OnCompare);

    Place(new QLabel("Dload Type", this), 0, 452, 146, 38, 8);
    // A drop-down list: the template's height includes the list, the closed box is one line.
    dloadType_ = Place(new QComboBox(this), IDC_DLOAD_TYPE, 451, 159, 81, 14);
    dloadType_->addItems({"EMERGEMCY", "CHANGE(EMERGENCY)", "COMPARE(EMERGENY)"});
    dloadType_->setContextMenuPolicy(Qt::NoContextMenu);  // a right click opens the window menu
    Place(new QLabel("Elapsed Time", this), 0, 452, 185, 46, 8);
    auto* elapsed = Place(new QLineEdit(this), IDC_ELAPSED, 452, 196, 80, 14);
    elapsed->setReadOnly(true);
    elapsed->setEnabled(false);
}

void CTarnflowDlg::BuildStatusAndEntries() {
    auto* logSel = Place(new QLineEdit(this), IDC_LOG_SEL_TEXT, 261, 23, 28, 12);
    logSel->setReadOnly(true);
    slider_ = Place(new CMySliderCtrl(this), IDC_SLIDER_LOG, 289, 21, 154, 13);
    slider_->setRange(0, kEntryCount - 1);
    slider_->setPageStep(1);
    connect(slider_, &CMySliderCtrl::Moved, this, &CTarnflowDlg::OnSliderMoved);

    for (int i = 0; i < kEntryCount; ++i) {
        // The first log is taller; the others share one place below the selector.
        auto* log = i == 0 ? Place(new QTextEdit(this), IDC_LOG_FIRST, 261, 46, 177, 261)
                           : Place(new QTextEdit(this), IDC_LOG_FIRST + i, 261, 43, 177, 162);
        log->setReadOnly(true);
        log->setUndoRedoEnabled(false);  // appends keep no undo steps
        log->setLineWrapMode(QTextEdit::NoWrap);
        log->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        logs_[i] = log;
        const int x = i < 10 ? 13 : 227;
        const int y = kRowY[i % 10];
        labels_[i] = Place(new QLabel(QString("Entry %1").arg(i + 1), this), IDC_LABEL_FIRST + i, x,
                           y, kEntryLabelWidth, 10);
        labels_[i]->setProperty("entryLabel", true);
        labels_[i]->setEnabled(false);
        bars_[i] = Place(new CTextProgressCtrl(this), IDC_PROGRESS_FIRST + i, x, y + 10, 204, 6);
        bars_[i]->SetBordered(true);
    }
}

// The file information controls: bound to their members, never shown.
void CTarnflowDlg::BuildFileInfo() {
    Place(new QGroupBox(" File Info ", this), 0, 39, 372, 181, 88)->hide();
    const struct {
        int id;
        const char* caption;
        int x, y, w;
    } statics[] = {{IDC_FILE_LABEL, "File:", 47, 404, 30},
                   {IDC_SIZE_LABEL, "Size:", 46, 430, 30},
                   {IDC_VERSION_LABEL, "Version:", 278, 430, 30},
                   {IDC_BYTES_LABEL, "bytes", 235, 444, 30},
                   {IDC_BUILD_TIME_LABEL, "Build time: ", 47, 462, 40}};
    for (const auto& s : statics) {
        Place(new QLabel(s.caption, this), s.id, s.x, s.y, s.w, 8)->hide();
    }
    const struct {
        int id;
        int x, y, w;
        bool right;
    } edits[] = {{IDC_FILE_NAME, 46, 394, 167, false},
                 {IDC_IMAGE_SIZE, 29, 444, 69, true},
                 {IDC_FILE_VERSION, 268, 442, 62, false},
                 {IDC_BUILD_TIME, 93, 440, 120, true}};
    for (const auto& e : edits) {
        auto* edit = Place(new QLineEdit(this), e.id, e.x, e.y, e.w, 12);
        edit->setReadOnly(true);
        if (e.right) {
            edit->setAlignment(Qt::AlignRight);
        }
        edit->hide();
    }
}

// A press on the background drags the window as its caption would.
void CTarnflowDlg::mousePressEvent(QMouseEvent* event) {
    QDialog::mousePressEvent(event);
    if (event->button() == Qt::LeftButton && windowHandle() != nullptr) {
        windowHandle()->startSystemMove();
    }
}

// The window menu, with its About item below a separator, opens on a right click on any part of
// the window without a menu of its own: controls without one pass the click on to the window.
void CTarnflowDlg::contextMenuEvent(QContextMenuEvent* event) {
    windowMenu_->popup(event->globalPos());
}

void CTarnflowDlg::OnAbout() {
    dialogs_.About(this);
}

}  // namespace tarnflow
