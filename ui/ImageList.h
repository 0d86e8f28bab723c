// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QIcon>
#include <QObject>
#include <QPixmap>

#include <vector>

// The six 16 x 16 toolbar images: 0 Play, 1 Stop, 2 Pause, 3 Previous, 4 Next,
// 5 blank (every disabled button).
class TImageList : public QObject {
    Q_OBJECT
public:
    static constexpr int PlayImage = 0;
    static constexpr int StopImage = 1;
    static constexpr int PauseImage = 2;
    static constexpr int PreviousImage = 3;
    static constexpr int NextImage = 4;
    static constexpr int Blank = 5;

    TImageList(const QString& name, QObject* parent);

    int Count() const { return static_cast<int>(images_.size()); }
    QPixmap Image(int index) const;
    // An icon that shows the image alike in every state, so a disabled button
    // shows the blank image it was given rather than a greyed one.
    QIcon Icon(int index) const;

private:
    std::vector<QPixmap> images_;
};

// The program icon at a size of 16, 32 or 48 pixels (others are scaled).
QPixmap ProgramIconPixmap(int size);
QIcon ProgramIcon();
