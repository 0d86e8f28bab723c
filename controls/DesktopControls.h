// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// The main window as the desktop's services see it: its state for the media
// controls and the screen saver, and the window's own commands for theirs.
// Both are brought up to date after whatever can change the window's state:
// its commands, the user's input, and the tick that follows playback. Nothing
// runs while nothing happens.

#include "platform/PlayerControls.h"

#include <QDBusConnection>
#include <QObject>

#include <functional>
#include <memory>

class MprisService;
class ScreenSaverInhibitor;
class TForm1;

class DesktopControls : public QObject, public PlayerControls {
    Q_OBJECT
public:
    DesktopControls(TForm1& form, QDBusConnection bus, QObject* parent = nullptr);
    ~DesktopControls() override;

    // Brings both services up to date now.
    void Update();
    MprisService& Mpris() { return *mpris_; }
    ScreenSaverInhibitor& ScreenSaver() { return *screenSaver_; }

    PlayerState State() const override;
    // Every command from the desktop takes the road of the window's own.
    void InTurn(std::function<void()> command) override;
    void Play() override;
    void Pause() override;
    void PlayPause() override;
    void Stop() override;
    void Next() override;
    void Previous() override;
    void SeekTo(qint64 positionUs) override;
    void SetLoop(LoopStatus loop) override;
    void SetVolume(double volume) override;
    void Quit() override;
    void Raise() override;

private:
    bool FileOpen() const;
    PlayerState ReadState() const;
    // Once the event at hand has been handled.
    void UpdateSoon();

    TForm1& form_;
    std::unique_ptr<MprisService> mpris_;
    std::unique_ptr<ScreenSaverInhibitor> screenSaver_;
    bool updatePending_ = false;
};
