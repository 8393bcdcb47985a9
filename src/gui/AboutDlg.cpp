#include "gui/AboutDlg.h"

#include <QLabel>
#include <QPushButton>

#include "gui/AppIcons.h"
#include "gui/DialogUnits.h"
#include "gui/Dialogs.h"

namespace tarnflow {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromUtf8(kTitle));
    UseDialogFrame(this);
    // The main window's font, at the size the window was fitted to its screen.
    setFont(parent != nullptr ? parent->font() : DialogFont());
    const DialogUnits units(font());
    auto* picture = new QLabel(this);
    picture->setPixmap(AboutPicture());
    picture->move(units.Point(11, 17));
    picture->resize(32, 32);
    auto* name = new QLabel(QString::fromUtf8(kNameLine), this);
    name->setGeometry(units.Rect(40, 10, 188, 8));
    auto* second = new QLabel(QString::fromUtf8(kSecondLine), this);
    second->setGeometry(units.Rect(40, 25, 188, 8));
    auto* ok = new QPushButton(QString::fromUtf8("확인"), this);
    ok->setGeometry(units.Rect(178, 34, 50, 14));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    setFixedSize(units.Rect(0, 0, 235, 55).size());
}

}  // namespace tarnflow
