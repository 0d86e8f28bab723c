// SPDX-License-Identifier: GPL-3.0-or-later

#include "ui/ProgressBar.h"

#include "ui/Accessibility.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

TProgressBar::TProgressBar(const QString& name, QWidget* parent) : QWidget(parent) {
    setObjectName(name);
}

void TProgressBar::SetMax(int max) {
    max_ = std::max(max, min_);
    SetPosition(position_);
    update();
}

void TProgressBar::SetPosition(int position) {
    const int kept = std::clamp(position, min_, max_);
    if (kept == position_)
        return;
    const int before = FilledWidth();
    position_ = kept;
    if (FilledWidth() != before)
        update();
    AnnounceSeekPosition(*this);
}

int TProgressBar::FilledWidth() const {
    const int inner = std::max(0, width() - 2);
    if (max_ <= min_)
        return 0;
    const double fraction = double(position_ - min_) / double(max_ - min_);
    return static_cast<int>(std::lround(fraction * inner));
}

void TProgressBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect frame = rect(); // its bottom and right are the last pixels inside
    painter.fillRect(rect(), palette().color(QPalette::Base));
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawLine(frame.topLeft(), frame.topRight());
    painter.drawLine(frame.topLeft(), frame.bottomLeft());
    // Light would vanish against the white face: the lower edges are mid grey.
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawLine(frame.bottomLeft(), frame.bottomRight());
    painter.drawLine(frame.topRight(), frame.bottomRight());
    const int filled = FilledWidth();
    if (filled > 0)
        painter.fillRect(QRect(1, 1, filled, height() - 2), palette().color(QPalette::Highlight));
}

void TProgressBar::mousePressEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    Q_EMIT OnMouseDown(event->button(), event->buttons(), event->modifiers(), at.x(), at.y());
}

void TProgressBar::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    Q_EMIT OnMouseMove(event->buttons(), event->modifiers(), at.x(), at.y());
}

void TProgressBar::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    Q_EMIT OnMouseUp(event->button(), event->modifiers(), at.x(), at.y());
}
