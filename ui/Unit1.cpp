// SPDX-License-Identifier: GPL-3.0-or-later

#include "ui/Unit1.h"

#include "ui/ImageList.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

TAboutBox* AboutBox = nullptr;

TAboutBox::TAboutBox(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("About"));
    setFixedSize(ClientWidth, ClientHeight);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Button));
    setPalette(palette);

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setGeometry(88, 57, 75, 25);
    OKButton->setDefault(true);
    OKButton->setAutoDefault(true);
    connect(OKButton, &QPushButton::clicked, this, [this] { done(1); });

    ProgramIcon = new QLabel(this);
    ProgramIcon->setObjectName(QStringLiteral("ProgramIcon"));
    ProgramIcon->setGeometry(16, 16, 32, 32);
    ProgramIcon->setScaledContents(true);
    ProgramIcon->setPixmap(ProgramIconPixmap(32));

    ProductName = new QLabel(QStringLiteral("Qel ver.0.0.Ab"), this);
    ProductName->setObjectName(QStringLiteral("ProductName"));
    ProductName->move(72, 18);
    ProductName->adjustSize();

    Version = new QLabel(QStringLiteral("© 2026 the Qel developers"), this);
    Version->setObjectName(QStringLiteral("Version"));
    Version->move(72, 34);
    Version->adjustSize();

    OKButton->setFocus();
}

void TAboutBox::CentreOver(QWidget* owner) {
    owner_ = owner;
    frameUnknown_ = frameGeometry() == geometry();
    Centre();
}

void TAboutBox::Centre() {
    if (owner_)
        move(CentredBoxPosition(owner_->frameGeometry(), owner_->geometry(), frameGeometry(),
                                geometry()));
}

void TAboutBox::moveEvent(QMoveEvent* event) {
    QDialog::moveEvent(event);
    // The window manager has just framed the box: centre it with its real frame.
    if (frameUnknown_ && isVisible() && frameGeometry() != geometry()) {
        frameUnknown_ = false;
        QTimer::singleShot(0, this, [this] { Centre(); });
    }
}

void TAboutBox::keyPressEvent(QKeyEvent* event) {
    // The box has no cancel: Escape leaves it open.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
