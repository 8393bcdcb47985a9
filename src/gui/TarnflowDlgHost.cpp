// The window as the download engine's host: posted notifications, message boxes, window
// timers and closing.
#include <QCloseEvent>
#include <QCoreApplication>
#include <QTimer>

#include "gui/MySliderCtrl.h"
#include "gui/TarnflowDlg.h"

namespace tarnflow {

namespace {

// A posted notification as a Qt event, handled on the window's thread.
const QEvent::Type kPostedType = static_cast<QEvent::Type>(QEvent::registerEventType());

class PostedEvent : public QEvent {
  public:
    explicit PostedEvent(const Message& m) : QEvent(kPostedType), message(m) {}
    Message message;
};

}  // namespace

CTarnflowDlg::~CTarnflowDlg() {
    for (auto& [id, timer] : timers_) {
        timer->stop();
    }
}

bool CTarnflowDlg::event(QEvent* event) {
    if (event->type() == kPostedType) {
        engine_->OnMessage(static_cast<PostedEvent*>(event)->message);
        return true;
    }
    if (event->type() == QEvent::Move || event->type() == QEvent::Paint) {
        WatchForFrame();
    }
    return QDialog::event(event);
}

// Any thread: the receive threads post here.
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
        timer->setTimerType(Qt::PreciseTimer);
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

void CTarnflowDlg::FocusLogSelector() {
    slider_->setFocus();
}

// Escape and Cancel do nothing: the window closes only through its close button.
void CTarnflowDlg::reject() {}

// Every entry is closed (about a second per open port), the controls are read back, and the
// dialog ends.
void CTarnflowDlg::closeEvent(QCloseEvent* event) {
    engine_->OnClose();
    UpdateData(true);
    event->accept();
    done(QDialog::Accepted);
}

}  // namespace tarnflow
