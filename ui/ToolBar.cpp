// SPDX-License-Identifier: GPL-3.0-or-later

#include "ui/ToolBar.h"

#include "ui/ImageList.h"

#include <QAction>
#include <QChildEvent>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPainter>

TToolButton::TToolButton(const QString& name, QWidget* parent, const TImageList* images,
                         QAction* command, const QString& hint)
    : QToolButton(parent), images_(images) {
    setObjectName(name);
    setAutoRaise(true);
    setFocusPolicy(Qt::NoFocus);
    setToolTip(hint);
    setIconSize(QSize(16, 16));
    if (command)
        connect(this, &QToolButton::clicked, command, &QAction::trigger);
}

void TToolButton::SetImageIndex(int index) {
    if (index == imageIndex_)
        return;
    imageIndex_ = index;
    setIcon(images_->Icon(index));
}

TToolSeparator::TToolSeparator(const QString& name, QWidget* parent) : QWidget(parent) {
    setObjectName(name);
}

void TToolSeparator::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const int x = width() / 2 - 1;
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawLine(x, 2, x, height() - 3);
    painter.setPen(palette().color(QPalette::Light));
    painter.drawLine(x + 1, 2, x + 1, height() - 3);
}

TToolBar::TToolBar(const QString& name, QWidget* parent) : QWidget(parent) {
    setObjectName(name);
}

void TToolBar::contextMenuEvent(QContextMenuEvent* event) {
    if (popupMenu_) {
        popupMenu_->popup(event->globalPos());
        event->accept();
    }
}

void TToolBar::childEvent(QChildEvent* event) {
    // A disabled button takes no right click of its own; the toolbar still answers it.
    if (event->added() && event->child()->isWidgetType())
        event->child()->installEventFilter(this);
    QWidget::childEvent(event);
}

bool TToolBar::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ContextMenu && popupMenu_) {
        popupMenu_->popup(static_cast<QContextMenuEvent*>(event)->globalPos());
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TToolBar::paintEvent(QPaintEvent*) {
    // The etched edge along the top.
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawLine(0, 0, width() - 1, 0);
    painter.setPen(palette().color(QPalette::Light));
    painter.drawLine(0, 1, width() - 1, 1);
}
