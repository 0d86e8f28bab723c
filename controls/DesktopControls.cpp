// SPDX-License-Identifier: GPL-3.0-or-later

#include "controls/DesktopControls.h"

#include "common/ErrorReport.h"
#include "media/MediaPlayer.h"
#include "platform/MprisService.h"
#include "platform/ScreenSaverInhibitor.h"
#include "ui/Controls.h"
#include "ui/FileListBox.h"
#include "ui/MainForm.h"
#include "ui/ToolBar.h"

#include <QAction>
#include <QApplication>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <cmath>

DesktopControls::DesktopControls(TForm1& form, QDBusConnection bus, QObject* parent)
    : QObject(parent), form_(form),
      mpris_(std::make_unique<MprisService>(bus, *this, QStringLiteral("org.qelplayer.Qel"))),
      screenSaver_(std::make_unique<ScreenSaverInhibitor>(bus, QStringLiteral("Qel"),
                                                          QStringLiteral("Playing a video"))) {
    // After the window's own handlers, which were connected first.
    connect(form_.Timer1, &TTimer::OnTimer, this, &DesktopControls::Update);
    connect(&form_, &TForm1::CommandsRan, this, &DesktopControls::UpdateSoon);
    // Also while the open's result is reported in a box, before any command runs.
    connect(form_.MediaPlayer1, &TMediaPlayer::OpeningChanged, this, &DesktopControls::UpdateSoon);
}

DesktopControls::~DesktopControls() = default;

void DesktopControls::Update() {
    // Run by the tick and by a timer of its own: nothing may escape into the loop.
    RunGuarded([this] {
        const PlayerState state = State();
        screenSaver_->SetHeld(state.Playback == PlaybackStatus::Playing);
        mpris_->Update();
    });
}

void DesktopControls::UpdateSoon() {
    if (updatePending_)
        return;
    updatePending_ = true;
    QTimer::singleShot(0, this, [this] {
        updatePending_ = false;
        Update();
    });
}

bool DesktopControls::FileOpen() const {
    return form_.MediaPlayer1->DeviceID() != 0;
}

PlayerState DesktopControls::State() const {
    // Read by the bus at any time: a failure reads as a player with nothing open.
    try {
        PlayerState state = ReadState();
        // A command that comes while a file opens waits for it and meets the state
        // it leaves, so a client that checks first may send it.
        if (form_.MediaPlayer1->State() == TMediaState::Opening) {
            state.CanPlay = state.CanPause = state.CanSeek = true;
            state.CanGoNext = state.CanGoPrevious = true;
        }
        return state;
    } catch (...) {
        return {};
    }
}

PlayerState DesktopControls::ReadState() const {
    PlayerState state;
    state.Loop = form_.Single1->Checked() ? LoopStatus::Track
                 : form_.All1->Checked()  ? LoopStatus::Playlist
                                          : LoopStatus::None;
    state.CanPlay = form_.ToolButton3->isEnabled();
    state.CanPause = form_.ToolButton4->isEnabled();
    state.CanGoNext = form_.ToolButton6->isEnabled();
    state.CanGoPrevious = form_.ToolButton2->isEnabled();
    state.Volume = Muted ? 0.0 : VolumeLeft / 100.0;
    TMediaPlayer& player = *form_.MediaPlayer1;
    // A file that opens is already the track: a seek to a point in it waits for it.
    if (!FileOpen() && player.State() != TMediaState::Opening)
        return state;
    if (FileIndex >= 0 && FileIndex < form_.FileListBox1->Count()) {
        state.Track = FileIndex;
        state.Title = form_.FileListBox1->ItemText(FileIndex);
    }
    state.Path = player.FileName;
    if (!FileOpen())
        return state;
    switch (player.Mode()) {
    case mpPlaying:
        state.Playback = PlaybackStatus::Playing;
        break;
    case mpPaused:
        state.Playback = PlaybackStatus::Paused;
        break;
    default:
        state.Playback = PlaybackStatus::Stopped;
        break;
    }
    state.LengthUs = qint64(std::max(player.Length(), 0)) * 1000;
    state.PositionUs = qint64(std::max(player.Position(), 0)) * 1000;
    state.CanSeek = state.LengthUs > 0;
    return state;
}

void DesktopControls::InTurn(std::function<void()> command) {
    // A modal box holds the window's own input; the desktop's waits as well, so
    // that nothing starts playing behind a box.
    if (QApplication::activeModalWidget() == nullptr)
        form_.Command(command);
    UpdateSoon();
}

void DesktopControls::Play() {
    InTurn([this] {
        const PlayerState state = ReadState();
        if (state.Playback == PlaybackStatus::Paused)
            form_.Action3->trigger();
        else if (state.Playback == PlaybackStatus::Stopped && state.CanPlay)
            form_.Action1->trigger();
    });
}

void DesktopControls::Pause() {
    InTurn([this] {
        if (ReadState().Playback == PlaybackStatus::Playing)
            form_.Action3->trigger();
    });
}

void DesktopControls::PlayPause() {
    InTurn([this] {
        const PlayerState state = ReadState();
        if (state.Playback != PlaybackStatus::Stopped)
            form_.Action3->trigger();
        else if (state.CanPlay)
            form_.Action1->trigger();
    });
}

void DesktopControls::Stop() {
    InTurn([this] {
        if (form_.ToolButton5->isEnabled())
            form_.Action2->trigger();
    });
}

void DesktopControls::Next() {
    InTurn([this] {
        if (form_.ToolButton6->isEnabled())
            form_.Action4->trigger();
    });
}

void DesktopControls::Previous() {
    InTurn([this] {
        if (form_.ToolButton2->isEnabled())
            form_.Action5->trigger();
    });
}

void DesktopControls::SeekTo(qint64 positionUs) {
    InTurn([this, positionUs] {
        if (FileOpen())
            form_.SeekTo(static_cast<int>(std::clamp<qint64>(positionUs / 1000, 0, INT_MAX)));
    });
}

void DesktopControls::SetLoop(LoopStatus loop) {
    InTurn([this, loop] {
        // The loop commands toggle; each runs only where its mark must change.
        const bool single = loop == LoopStatus::Track;
        const bool all = loop == LoopStatus::Playlist;
        if (form_.Single1->Checked() != single && (single || !all))
            form_.Action13->trigger();
        if (form_.All1->Checked() != all && (all || !single))
            form_.Action14->trigger();
    });
}

void DesktopControls::SetVolume(double volume) {
    // The window's own steps, so that the device, the panel and the menu agree;
    // while muted they change nothing, as the keys do not.
    if (Muted || !std::isfinite(volume))
        return;
    InTurn([this, volume] {
        // Clamped before rounding: a huge value must not wrap round to silence.
        const int level = static_cast<int>(std::lround(std::clamp(volume, 0.0, 1.0) * 10)) * 10;
        while (VolumeLeft != level) {
            const int before = VolumeLeft;
            (VolumeLeft < level ? form_.Action9 : form_.Action10)->trigger();
            if (VolumeLeft == before)
                break;
        }
    });
}

void DesktopControls::Quit() {
    RunGuarded([this] {
        // An open about box would keep the program alive without its window.
        CloseModalBoxes();
        form_.Action6->trigger();
    });
}

void DesktopControls::Raise() {
    RunGuarded([this] {
        if (form_.isMinimized())
            form_.showNormal();
        form_.raise();
        form_.activateWindow();
    });
}
