// SPDX-License-Identifier: GPL-3.0-or-later

#include "ui/Controls.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>

TPanel::TPanel(const QString& name, QWidget* parent, Bevel bevel, const QColor& colour)
    : QFrame(parent) {
    setObjectName(name);
    if (bevel == Bevel::Raised) {
        setFrameStyle(QFrame::Panel | QFrame::Raised);
        setLineWidth(1);
    } else {
        setFrameStyle(QFrame::NoFrame);
    }
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, colour);
    setPalette(palette);
    setAutoFillBackground(true);
}

void TPanel::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        clicked_ = true;
    QFrame::mousePressEvent(event);
}

void TPanel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && clicked_) {
        clicked_ = false;
        if (rect().contains(event->position().toPoint()))
            Q_EMIT OnClick();
    }
    QFrame::mouseReleaseEvent(event);
}

void TPanel::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second press of a double click is no click of its own.
    if (event->button() == Qt::LeftButton) {
        clicked_ = false;
        Q_EMIT OnDblClick();
    }
}

void TPanel::contextMenuEvent(QContextMenuEvent* event) {
    if (popupMenu_) {
        popupMenu_->popup(event->globalPos());
        event->accept();
    } else {
        QFrame::contextMenuEvent(event);
    }
}

TImage::TImage(const QString& name, QWidget* parent, const QPixmap& picture) : QLabel(parent) {
    setObjectName(name);
    setPixmap(picture);
    setScaledContents(true);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

TMenuItem::TMenuItem(const QString& name, const QString& caption, const QString& shortcutLabel,
                     QAction* command, QObject* parent)
    : QAction(parent), caption_(caption), shortcutLabel_(shortcutLabel), command_(command) {
    setObjectName(name);
    UpdateText();
    // Qt toggles a checkable item before it reports the choice; the check mark
    // belongs to the command, so it is put back first.
    connect(this, &QAction::triggered, this, [this] {
        if (isCheckable())
            QAction::setChecked(checked_);
        if (command_)
            command_->trigger();
    });
}

void TMenuItem::SetCaption(const QString& caption) {
    caption_ = caption;
    UpdateText();
}

void TMenuItem::SetChecked(bool checked) {
    checked_ = checked;
    setCheckable(true);
    QAction::setChecked(checked);
}

void TMenuItem::UpdateText() {
    setText(shortcutLabel_.isEmpty() ? caption_ : caption_ + QLatin1Char('\t') + shortcutLabel_);
}

TTimer::TTimer(const QString& name, QObject* parent, int intervalMs) : QObject(parent) {
    setObjectName(name);
    timer_.setInterval(intervalMs);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &TTimer::OnTimer);
}

void TTimer::FireNow() {
    // At most once an interval: a file that ends as soon as it starts must not
    // keep the window busy.
    if (!timer_.isActive() || (lastFiredNow_.isValid() && lastFiredNow_.elapsed() < Interval()))
        return;
    lastFiredNow_.start();
    timer_.start();
    Q_EMIT OnTimer();
}

void TTimer::SetEnabled(bool enabled) {
    if (enabled == timer_.isActive())
        return;
    if (enabled)
        timer_.start();
    else
        timer_.stop();
}
