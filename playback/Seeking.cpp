// SPDX-License-Identifier: GPL-3.0-or-later

// Seeking: with the mouse on the seek bar and with the seek keys. While the user
// seeks the timer is off and the point chosen so far is the seek bar's position;
// the device hears of it only on release.

#include "ui/MainForm.h"

#include "media/MediaPlayer.h"
#include "ui/Controls.h"
#include "ui/ProgressBar.h"
#include "ui/StatusBar.h"
#include "ui/StatusTexts.h"

#include <algorithm>
#include <climits>

namespace {

// The point x pixels into a bar `width` wide: in single precision, dividing
// before multiplying, truncated toward zero. Values past the int range stop at
// its ends so that a pointer far outside the bar cannot overflow.
int PointUnderPointer(int length, int width, int x) {
    if (width <= 0)
        return 0;
    const float point =
        static_cast<float>(length) / static_cast<float>(width) * static_cast<float>(x);
    if (point <= static_cast<float>(INT_MIN))
        return INT_MIN;
    if (point >= static_cast<float>(INT_MAX))
        return INT_MAX;
    return static_cast<int>(point);
}

} // namespace

void TForm1::HoldForSeek() {
    // A file that has ended is left as it is.
    if (MediaPlayer1->Mode() != mpPaused)
        MediaPlayer1->Pause();
    Timer1->SetEnabled(false);
}

void TForm1::ShowSeekPoint(int position) {
    ProgressBar1->SetPosition(position);
    StatusBar1->SetPanelText(StatusPanel::Time,
                             TimeText(ProgressBar1->Position(), MediaPlayer1->Length()));
}

void TForm1::ProgressBar1MouseDown(QObject*, Qt::MouseButton Button, Qt::MouseButtons, int X, int) {
    if (MediaPlayer1->DeviceID() == 0 || Button != Qt::LeftButton)
        return;
    HoldForSeek();
    ShowSeekPoint(PointUnderPointer(MediaPlayer1->Length(), ProgressBar1->width(), X));
}

void TForm1::SeekTo(int position) {
    if (MediaPlayer1->DeviceID() == 0)
        return;
    HoldForSeek();
    ShowSeekPoint(position);
    SeekRelease();
}

void TForm1::ProgressBar1MouseMove(QObject*, Qt::MouseButtons Buttons, int X, int) {
    if (MediaPlayer1->DeviceID() == 0 || !(Buttons & Qt::LeftButton))
        return;
    ShowSeekPoint(PointUnderPointer(MediaPlayer1->Length(), ProgressBar1->width(), X));
}

void TForm1::ProgressBar1MouseUp(QObject*, Qt::MouseButton Button, int, int) {
    if (MediaPlayer1->DeviceID() == 0 || Button != Qt::LeftButton)
        return;
    SeekRelease();
}

void TForm1::SeekStep(int direction) {
    if (MediaPlayer1->DeviceID() == 0)
        return;
    HoldForSeek();
    const int step = ProgressBar1->Max() / 100;
    const long long target =
        static_cast<long long>(ProgressBar1->Position()) + (direction < 0 ? -step : step);
    ShowSeekPoint(static_cast<int>(std::clamp<long long>(target, INT_MIN, INT_MAX)));
}

void TForm1::SeekRelease() {
    if (MediaPlayer1->DeviceID() == 0)
        return;
    // The pending start point keeps the device from rewinding, even at the very end.
    MediaPlayer1->SetStartPosition(ProgressBar1->Position());
    MediaPlayer1->Play();
    Timer1->SetEnabled(true);
}
