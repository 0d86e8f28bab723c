// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// The texts of the status-bar panels.

#include <QString>

// Panel indices.
namespace StatusPanel {
constexpr int PlayList = 0;
constexpr int Time = 1;
constexpr int Sizes = 2;
constexpr int Volume = 3;
constexpr int LoopMode = 4;
constexpr int FileName = 5;
} // namespace StatusPanel

// "%4dx%4d": the video area alone.
inline QString AreaSizeText(int width, int height) {
    return QString::asprintf("%4dx%4d", width, height);
}

// "%4dx%4d/ %4dx%4d": the video area, then the picture.
inline QString AreaAndPictureSizeText(int width, int height, int pictureWidth, int pictureHeight) {
    return QString::asprintf("%4dx%4d/ %4dx%4d", width, height, pictureWidth, pictureHeight);
}

// "%3d:%02d/ %3d:%02d": elapsed, then total, from millisecond counts. There are
// no hours: minutes grow past 99.
inline QString TimeText(int positionMs, int lengthMs) {
    return QString::asprintf("%3d:%02d/ %3d:%02d", positionMs / 60000, (positionMs / 1000) % 60,
                             lengthMs / 60000, (lengthMs / 1000) % 60);
}

// "%4d/ %4d": the rank of the playing file among the selected ones, and their number.
inline QString PlayListText(int ordinal, int selected) {
    return QString::asprintf("%4d/ %4d", ordinal, selected);
}

// The captions of the own-size menu item: what choosing it would do.
inline QString OriginalSizeCaption() {
    return QStringLiteral("Original Size");
}
inline QString CurrentSizeCaption() {
    return QStringLiteral("Current Size");
}
