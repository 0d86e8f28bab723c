// SPDX-License-Identifier: GPL-3.0-or-later

#include "ui/StatusBar.h"

#include "ui/Accessibility.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

TStatusBar::TStatusBar(const QString& name, QWidget* parent, std::vector<Panel> panels)
    : QWidget(parent), panels_(std::move(panels)) {
    setObjectName(name);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Button));
    setPalette(palette);
}

namespace {
// A file name may hold line breaks and other control characters: each is shown
// as a space, so that the panel keeps its one line.
QString OneLine(QString text) {
    for (QChar& c : text) {
        const QChar::Category kind = c.category();
        if (kind == QChar::Other_Control || kind == QChar::Separator_Line ||
            kind == QChar::Separator_Paragraph)
            c = QLatin1Char(' ');
    }
    return text;
}
} // namespace

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

std::pair<int, int> TStatusBar::PanelSpan(int index) const {
    int left = 0;
    for (int i = 0; i < index; ++i)
        left += panels_[i].Width;
    const int right =
        index == PanelCount() - 1 ? std::max(left, width()) : left + panels_[index].Width;
    return {left, right};
}

namespace {
// A sunken cell, two pixels in from the bar's top edge.
QRect CellOf(int left, int right, int height) {
    return QRect(left, 2, right - left - 2, height - 2);
}
} // namespace

QRect TStatusBar::PanelTextRect(int index) const {
    const auto [left, right] = PanelSpan(index);
    return CellOf(left, right, height()).adjusted(3, 1, -3, -1);
}

bool TStatusBar::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        // A text cut off by its panel (a long file name) is shown whole.
        auto* help = static_cast<QHelpEvent*>(event);
        for (int i = 0; i < PanelCount(); ++i) {
            const auto [left, right] = PanelSpan(i);
            if (help->pos().x() < left || help->pos().x() >= right)
                continue;
            const QString& text = panels_[i].Text;
            if (fontMetrics().horizontalAdvance(OneLine(text)) > PanelTextRect(i).width())
                QToolTip::showText(help->globalPos(), text, this);
            else
                QToolTip::hideText();
            return true;
        }
        QToolTip::hideText();
        return true;
    }
    return QWidget::event(event);
}

void TStatusBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QColor light = palette().color(QPalette::Light);
    const QColor dark = palette().color(QPalette::Dark);
    for (int i = 0; i < PanelCount(); ++i) {
        const auto [left, right] = PanelSpan(i);
        const QRect cell = CellOf(left, right, height());
        if (cell.width() <= 0)
            continue;
        painter.setPen(dark);
        painter.drawLine(cell.topLeft(), cell.topRight());
        painter.drawLine(cell.topLeft(), cell.bottomLeft());
        painter.setPen(light);
        painter.drawLine(cell.bottomLeft(), cell.bottomRight());
        painter.drawLine(cell.topRight(), cell.bottomRight());
        painter.setPen(palette().color(QPalette::WindowText));
        const QRect textRect = PanelTextRect(i);
        painter.setClipRect(cell.adjusted(1, 1, -1, -1));
        painter.drawText(textRect,
                         static_cast<int>(panels_[i].Alignment | Qt::AlignVCenter) |
                             Qt::TextSingleLine,
                         OneLine(panels_[i].Text));
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
