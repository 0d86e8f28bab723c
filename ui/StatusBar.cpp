#include "ui/StatusBar.h"

#include "ui/Accessibility.h"

#include <QMouseEvent>
#include <QPainter>

TStatusBar::TStatusBar(const QString& name, QWidget* parent, std::vector<Panel> panels)
    : QWidget(parent), panels_(std::move(panels)) {
    setObjectName(name);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Button));
    setPalette(palette);
}

QString TStatusBar::PanelText(int index) const {
    return index >= 0 && index < PanelCount() ? panels_[index].Text : QString();
}

void TStatusBar::SetPanelText(int index, const QString& text) {
    if (index < 0 || index >= PanelCount() || panels_[index].Text == text)
        return;
    panels_[index].Text = text;
    const auto [left, right] = PanelSpan(index);
    update(left, 0, right - left, height());
    AnnouncePanelText(*this, index);
}

QString TStatusBar::PanelName(int index) const {
    return index >= 0 && index < PanelCount() ? panels_[index].Name : QString();
}

void TStatusBar::SetPanelName(int index, const QString& name) {
    if (index >= 0 && index < PanelCount())
        panels_[index].Name = name;
}

std::pair<int, int> TStatusBar::PanelSpan(int index) const {
    int left = 0;
    for (int i = 0; i < index; ++i)
        left += panels_[i].Width;
    const int right =
        index == PanelCount() - 1 ? std::max(left, width()) : left + panels_[index].Width;
    return {left, right};
}

void TStatusBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QColor light = palette().color(QPalette::Light);
    const QColor dark = palette().color(QPalette::Dark);
    for (int i = 0; i < PanelCount(); ++i) {
        const auto [left, right] = PanelSpan(i);
        // A sunken cell, two pixels in from the bar's top edge.
        const QRect cell(left, 2, right - left - 2, height() - 2);
        if (cell.width() <= 0)
            continue;
        painter.setPen(dark);
        painter.drawLine(cell.topLeft(), cell.topRight());
        painter.drawLine(cell.topLeft(), cell.bottomLeft());
        painter.setPen(light);
        painter.drawLine(cell.bottomLeft(), cell.bottomRight());
        painter.drawLine(cell.topRight(), cell.bottomRight());
        painter.setPen(palette().color(QPalette::WindowText));
        const QRect textRect = cell.adjusted(3, 1, -3, -1);
        painter.setClipRect(cell.adjusted(1, 1, -1, -1));
        painter.drawText(textRect, static_cast<int>(panels_[i].Alignment | Qt::AlignVCenter),
                         panels_[i].Text);
        painter.setClipping(false);
    }
}

void TStatusBar::mousePressEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    Q_EMIT OnMouseDown(event->button(), event->buttons(), event->modifiers(), at.x(), at.y());
}

void TStatusBar::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second press of a pair is still a press; only a left pair is a double click.
    if (event->button() == Qt::LeftButton)
        Q_EMIT OnDblClick();
    const QPoint at = event->position().toPoint();
    Q_EMIT OnMouseDown(event->button(), event->buttons(), event->modifiers(), at.x(), at.y());
}
