// The main window: its controls, built in code from the control table in dialog units.
#include "gui/TarnflowDlg.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTextEdit>
#include <QTimer>
#include <QWindow>

#include "gui/MySliderCtrl.h"
#include "gui/TextProgressCtrl.h"

namespace tarnflow {

namespace {

// The posted notification as a Qt event, handled on the window's thread.
const QEvent::Type kPostedType = static_cast<QEvent::Type>(QEvent::registerEventType());

class PostedEvent : public QEvent {
  public:
    explicit PostedEvent(const Message& m) : QEvent(kPostedType), message(m) {}
    Message message;
};

QFont DialogFont() {
    const QStringList families = QFontDatabase::families();
    for (const char* family : {"굴림", "Gulim", "NanumGothic", "Noto Sans CJK KR"}) {
        if (families.contains(family)) {
            return QFont(family, 9);
        }
    }
    QFont font;
    font.setPointSize(9);
    return font;
}

struct ButtonRow {
    int kind;
    int buttonId;
    const char* caption;
    int pathId;
    int y;
};

// The image buttons: push-like check boxes with their read-only path boxes.
constexpr ButtonRow kImageRows[] = {
    {KIND_CODE_NEW, IDC_CODE_NEW, "&Code...(NEW)", IDC_CODE_NEW_PATH, 19},
    {KIND_CODE_OLD, IDC_CODE_OLD, "&Code...(OLD)", IDC_CODE_OLD_PATH, 54},
    {KIND_FONT, IDC_FONT, "&Font...", IDC_FONT_PATH, 85},
    {KIND_VPX_BOOT, IDC_VPX_BOOT, "&Boot...", IDC_VPX_BOOT_PATH, 162},
    {KIND_VPX_CODE, IDC_VPX_CODE, "C&ode...", IDC_VPX_CODE_PATH, 180},
    {KIND_VPX_FONT, IDC_VPX_FONT, "Fo&nt...", IDC_VPX_FONT_PATH, 198},
    {KIND_VPX_CONTENTS, IDC_VPX_CONTENTS, "Con&tents...", IDC_VPX_CONTENTS_PATH, 217},
    {KIND_VPX_LFS, IDC_VPX_LFS, "&LFS...", IDC_VPX_LFS_PATH, 236},
    // FactoryFS in the VPX frame below LFS, where it covers no entry row.
    {KIND_VPX_FACTORYFS, IDC_VPX_FACTORYFS, "F&actoryFS...", IDC_VPX_FACTORYFS_PATH, 255},
};

constexpr int kRowY[10] = {330, 350, 372, 392, 412, 432, 452, 472, 492, 512};

}  // namespace

CTarnflowDlg::CTarnflowDlg(IDialogs& dialogs, QWidget* parent)
    : QDialog(parent), dialogs_(dialogs), engine_(std::make_unique<CDloadEngine>(*this, clock_)) {
    setWindowTitle("Compare_Tarnflow QV12 Ver01");
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFont(DialogFont());
    const QFontMetrics metrics(font());
    // The dialog base unit as Windows takes it: the mean width of the 52 Latin letters.
    const int letters =
        metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    charWidth_ = std::max(1, (letters / 26 + 1) / 2);
    charHeight_ = std::max(1, metrics.height());
    BuildControls();
    const QPoint size = DialogUnitsToPixels(539, 545);
    setFixedSize(size.x(), size.y());

    // Start-up as the window's first show would do it.
    engine_->OnInitDialog();
    engine_->selection.m_nDloadType = 0;
    UpdateData(false);
    ShowEntryLog(0);
    if (hotPlug_.Start()) {
        hotPlugNotifier_ = new QSocketNotifier(hotPlug_.Fd(), QSocketNotifier::Read, this);
        connect(hotPlugNotifier_, &QSocketNotifier::activated, this, &CTarnflowDlg::OnHotPlug);
    }
}

CTarnflowDlg::~CTarnflowDlg() {
    for (auto& [id, timer] : timers_) {
        timer->stop();
    }
}

QPoint CTarnflowDlg::DialogUnitsToPixels(int x, int y) const {
    return QPoint(x * charWidth_ / 4, y * charHeight_ / 8);
}

template <typename Widget>
Widget* CTarnflowDlg::Place(Widget* widget, int id, int x, int y, int w, int h) {
    const QPoint at = DialogUnitsToPixels(x, y);
    const QPoint size = DialogUnitsToPixels(w, h);
    widget->setGeometry(at.x(), at.y(), size.x(), size.y());
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

    for (const ButtonRow& row : kImageRows) {
        auto* button = Place(new QPushButton(row.caption, this), row.buttonId, 13, row.y, 58, 14);
        button->setCheckable(true);
        auto* path = Place(new QLineEdit(this), row.pathId, 74, row.y == 54 ? 53 : row.y, 169, 14);
        path->setReadOnly(true);
        const int kind = row.kind;
        connect(button, &QPushButton::clicked, this, [this, kind] { ToggleImage(kind); });
    }
    auto* check =
        Place(new QCheckBox("Change Phone Boot Area", this), IDC_BOOT_AREA, 13, 35, 95, 10);
    check->setLayoutDirection(Qt::RightToLeft);  // text on the left
    connect(check, &QCheckBox::clicked, this, [this] { UpdateData(true); });

    auto* fontLabel = Place(new QLabel("Font Start Address: 0x", this), 0, 10, 104, 75, 9);
    fontLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto* fontAddress = Place(new QLineEdit(this), IDC_FONT_ADDRESS, 86, 103, 57, 12);
    connect(fontAddress, &QLineEdit::textChanged, this, [this] { UpdateData(true); });

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
    dloadType_ = Place(new QComboBox(this), IDC_DLOAD_TYPE, 451, 159, 81, 14);
    dloadType_->addItems({"EMERGEMCY", "CHANGE(EMERGENCY)", "COMPARE(EMERGENY)"});
    Place(new QLabel("Elapsed Time", this), 0, 452, 185, 46, 8);
    auto* elapsed = Place(new QLineEdit(this), IDC_ELAPSED, 452, 196, 80, 14);
    elapsed->setReadOnly(true);
    elapsed->setEnabled(false);

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
        logs_[i] = log;
        const int x = i < 10 ? 13 : 227;
        const int y = kRowY[i % 10];
        labels_[i] = Place(new QLabel(QString("Entry %1").arg(i + 1), this), IDC_LABEL_FIRST + i, x,
                           y, 204, 10);
        labels_[i]->setEnabled(false);
        bars_[i] = Place(new CTextProgressCtrl(this), IDC_PROGRESS_FIRST + i, x, y + 10, 204, 6);
    }
    // The hidden file information controls, bound to their members but never shown.
    for (int id : {IDC_FILE_NAME, IDC_IMAGE_SIZE, IDC_FILE_VERSION, IDC_BUILD_TIME}) {
        Place(new QLineEdit(this), id, 46, 394, 167, 12)->hide();
    }
}

bool CTarnflowDlg::event(QEvent* event) {
    if (event->type() == kPostedType) {
        engine_->OnMessage(static_cast<PostedEvent*>(event)->message);
        return true;
    }
    return QDialog::event(event);
}

void CTarnflowDlg::PostMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    QCoreApplication::postEvent(this, new PostedEvent(Message{message, wParam, lParam}));
}

int CTarnflowDlg::MessageBox(const std::string& text, MessageBoxStyle style) {
    return dialogs_.MessageBox(this, text, style);
}

void CTarnflowDlg::SetTimer(uint32_t id, int intervalMs) {
    QTimer*& timer = timers_[id];
    if (timer == nullptr) {
        timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [this, id] { engine_->OnTimer(id); });
    }
    timer->start(std::max(intervalMs, 1));
}

void CTarnflowDlg::KillTimer(uint32_t id) {
    const auto it = timers_.find(id);
    if (it != timers_.end()) {
        it->second->stop();
    }
}

// Escape and IDCANCEL do nothing: the window closes only through its close button.
void CTarnflowDlg::reject() {}

void CTarnflowDlg::closeEvent(QCloseEvent* event) {
    if (!closing_) {
        closing_ = true;
        engine_->OnClose();
        UpdateData(true);
    }
    event->accept();
    done(QDialog::Accepted);
}

// A press on the background drags the window as its caption would.
void CTarnflowDlg::mousePressEvent(QMouseEvent* event) {
    QDialog::mousePressEvent(event);
    if (event->button() == Qt::LeftButton && windowHandle() != nullptr) {
        windowHandle()->startSystemMove();
    }
}

void CTarnflowDlg::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    menu.addSeparator();
    menu.addAction("Tarnflow 정보(&A)...", this, &CTarnflowDlg::OnAbout);
    menu.exec(event->globalPos());
}

void CTarnflowDlg::OnAbout() {
    dialogs_.About(this);
}

void CTarnflowDlg::FocusLogSelector() {
    slider_->setFocus();
}

}  // namespace tarnflow
