// SPDX-License-Identifier: GPL-3.0-or-later

#include "ui/ImageList.h"

#include <QPainter>
#include <QPolygon>

namespace {

QPixmap Draw(int index) {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    if (index == TImageList::Blank)
        return pixmap;
    QPainter painter(&pixmap);
    painter.setPen(QColor(0, 0, 128));
    painter.setBrush(Qt::white);
    switch (index) {
    case 0: // Play
        painter.drawPolygon(QPolygon({QPoint(4, 2), QPoint(12, 8), QPoint(4, 14)}));
        break;
    case 1: // Stop
        painter.drawRect(3, 3, 9, 9);
        break;
    case 2: // Pause
        painter.drawRect(4, 3, 3, 10);
        painter.drawRect(9, 3, 3, 10);
        break;
    case 3: // Previous
        painter.drawRect(3, 3, 2, 10);
        painter.drawPolygon(QPolygon({QPoint(13, 3), QPoint(6, 8), QPoint(13, 13)}));
        break;
    case 4: // Next
        painter.drawPolygon(QPolygon({QPoint(3, 3), QPoint(10, 8), QPoint(3, 13)}));
        painter.drawRect(11, 3, 2, 10);
        break;
    default:
        break;
    }
    return pixmap;
}

} // namespace

TImageList::TImageList(const QString& name, QObject* parent) : QObject(parent) {
    setObjectName(name);
    for (int i = 0; i <= Blank; ++i)
        images_.push_back(Draw(i));
}

QPixmap TImageList::Image(int index) const {
    return index >= 0 && index < Count() ? images_[index] : images_[Blank];
}

QIcon TImageList::Icon(int index) const {
    QIcon icon;
    for (QIcon::Mode mode : {QIcon::Normal, QIcon::Disabled, QIcon::Active, QIcon::Selected})
        icon.addPixmap(Image(index), mode);
    return icon;
}

QPixmap ProgramIconPixmap(int size) {
    const int stored = size <= 16 ? 16 : size <= 32 ? 32 : 48;
    QPixmap pixmap(QStringLiteral(":/icons/qel-%1.png").arg(stored));
    if (pixmap.width() != size)
        pixmap = pixmap.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return pixmap;
}

QIcon ProgramIcon() {
    QIcon icon;
    for (int size : {16, 32, 48})
        icon.addPixmap(ProgramIconPixmap(size));
    return icon;
}
