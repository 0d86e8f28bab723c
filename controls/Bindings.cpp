// SPDX-License-Identifier: GPL-3.0-or-later

// The keyboard and mouse bindings of the main window. Keys act only while a file
// is open; then the window itself holds the focus and every key reaches it.

#include "ui/MainForm.h"

#include "common/ErrorReport.h"
#include "media/MediaPlayer.h"

#include <QTimer>

#include <utility>

namespace {

struct KeyBinding {
    int Key;
    void (TForm1::*Command)(QObject*);
};

// Whatever the modifiers.
constexpr KeyBinding kAnyModifiers[] = {
    {Qt::Key_C, &TForm1::Action3Execute},  {Qt::Key_V, &TForm1::Action2Execute},
    {Qt::Key_Z, &TForm1::Action5Execute},  {Qt::Key_B, &TForm1::Action4Execute},
    {Qt::Key_K, &TForm1::Action12Execute}, {Qt::Key_L, &TForm1::Action15Execute},
};

// Only without Ctrl and Alt, so that Ctrl+Alt+letter stays the shortcut's.
constexpr KeyBinding kPlainOrShift[] = {
    {Qt::Key_Q, &TForm1::Action6Execute},  {Qt::Key_W, &TForm1::Action10Execute},
    {Qt::Key_E, &TForm1::Action9Execute},  {Qt::Key_O, &TForm1::Action13Execute},
    {Qt::Key_P, &TForm1::Action14Execute}, {Qt::Key_A, &TForm1::Action7Execute},
    {Qt::Key_R, &TForm1::Action8Execute},  {Qt::Key_X, &TForm1::Action1Execute},
};

template <std::size_t N> bool RunBinding(TForm1& form, const KeyBinding (&table)[N], int key) {
    for (const KeyBinding& binding : table) {
        if (binding.Key == key) {
            (form.*binding.Command)(&form);
            return true;
        }
    }
    return false;
}

// Where the right button lowers on its left and raises from it rightwards.
constexpr int kStatusBarVolumeBoundary = 323;
constexpr int kFileListVolumeBoundary = 62;

// A repeat's press follows its release within a few milliseconds; a real release
// costs the user this much delay before playback resumes.
constexpr int kRepeatWindowMs = 40;
// A loop held up past the window may not have seen the press waiting behind the
// release yet: the release then waits again, a few times at most.
constexpr int kMaxReleaseWaits = 5;

} // namespace

void TForm1::FormKeyDown(QObject*, int& Key, Qt::KeyboardModifiers Shift) {
    if (releasedKey_ != 0 && releasedKey_ == Key) {
        keyReleaseTimer_->stop(); // the key is still held: that release was a repeat
        releasedKey_ = 0;
    } else if (releasedKey_ != 0) {
        FinishKeyRelease(); // another key: the release comes first, as it happened
    }
    if (MediaPlayer1->DeviceID() == 0)
        return;
    if (Key == Qt::Key_D || Key == Qt::Key_S) {
        heldSeekKey_ = Key;
        releasedDevice_ = MediaPlayer1->DeviceID();
        SeekStep(Key == Qt::Key_D ? +1 : -1);
    }
    if (RunBinding(*this, kAnyModifiers, Key))
        return;
    if (Shift & (Qt::ControlModifier | Qt::AltModifier))
        return;
    RunBinding(*this, kPlainOrShift, Key);
}

void TForm1::FormKeyUp(QObject*, int& Key, Qt::KeyboardModifiers) {
    if (Key == heldSeekKey_)
        heldSeekKey_ = 0;
    if (MediaPlayer1->DeviceID() == 0)
        return;
    if (Key == Qt::Key_D || Key == Qt::Key_S)
        HoldKeyRelease(Key);
}

void TForm1::FormDeactivate(QObject*) {
    // The key's release goes to the window that has the focus now.
    if (releasedKey_ == 0)
        releasedKey_ = std::exchange(heldSeekKey_, 0);
    if (releasedKey_ != 0)
        FinishKeyRelease();
}

void TForm1::BindKeyRelease() {
    keyReleaseTimer_ = new QTimer(this);
    keyReleaseTimer_->setSingleShot(true);
    connect(keyReleaseTimer_, &QTimer::timeout, this, [this] {
        RunGuarded([this] {
            if (releasedKey_ == 0)
                return;
            // Fired well after its time: the loop was held up, and a press may
            // be queued behind it. Let it through first.
            if (releaseWaiting_.elapsed() > 2 * kRepeatWindowMs &&
                releaseWaits_ < kMaxReleaseWaits) {
                ++releaseWaits_;
                releaseWaiting_.start();
                keyReleaseTimer_->start(kRepeatWindowMs);
                return;
            }
            FinishKeyRelease();
        });
    });
}

void TForm1::HoldKeyRelease(int key) {
    if (releasedKey_ != 0 && releasedKey_ != key)
        FinishKeyRelease();
    releasedKey_ = key;
    releasedDevice_ = MediaPlayer1->DeviceID();
    releaseWaits_ = 0;
    releaseWaiting_.start();
    keyReleaseTimer_->start(kRepeatWindowMs);
}

void TForm1::FinishKeyRelease() {
    keyReleaseTimer_->stop();
    releasedKey_ = 0;
    // Not on another file opened in the meantime.
    if (MediaPlayer1->DeviceID() == releasedDevice_)
        SeekRelease();
}

void TForm1::FormMouseWheelUp(QObject*) {
    if (MediaPlayer1->DeviceID() != 0 && !Muted)
        VolumeUp();
}

void TForm1::FormMouseWheelDown(QObject*) {
    if (MediaPlayer1->DeviceID() != 0 && !Muted)
        VolumeDown();
}

void TForm1::StatusBar1MouseDown(QObject*, Qt::MouseButton, Qt::MouseButtons Buttons, int X, int) {
    if (!(Buttons & Qt::RightButton) || Muted)
        return;
    if (X < kStatusBarVolumeBoundary)
        VolumeDown();
    else
        VolumeUp();
}

void TForm1::FileListBox1MouseDown(QObject*, Qt::MouseButton, Qt::MouseButtons Buttons, int X,
                                   int) {
    if (!(Buttons & Qt::RightButton) || Muted)
        return;
    if (X < kFileListVolumeBoundary)
        VolumeDown();
    else
        VolumeUp();
}
