// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// What the desktop's services (media controls, the screen saver) see of the
// player, and the commands they may run. The window implements it; the D-Bus
// side never touches the window directly.

#include <QByteArray>
#include <QString>

#include <functional>

enum class PlaybackStatus { Stopped, Playing, Paused };
enum class LoopStatus { None, Track, Playlist };

struct PlayerState {
    PlaybackStatus Playback = PlaybackStatus::Stopped;
    LoopStatus Loop = LoopStatus::None;
    bool CanPlay = false;
    bool CanPause = false;
    bool CanGoNext = false;
    bool CanGoPrevious = false;
    bool CanSeek = false;
    int Track = -1;  // row of the open file in the file list; -1 with none open
    QString Title;   // the file's name as listed
    QByteArray Path; // its absolute path, the file system's bytes
    qint64 LengthUs = 0;
    qint64 PositionUs = 0;
    double Volume = 0; // 0 to 1; 0 while muted

    bool operator==(const PlayerState&) const = default;
};

class PlayerControls {
public:
    virtual ~PlayerControls() = default;
    virtual PlayerState State() const = 0;
    // Runs a command in its turn among the window's own: it reads the state then.
    virtual void InTurn(std::function<void()> command) = 0;
    virtual void Play() = 0;
    virtual void Pause() = 0;
    virtual void PlayPause() = 0;
    virtual void Stop() = 0;
    virtual void Next() = 0;
    virtual void Previous() = 0;
    // An absolute point in the open file, as a release of the seek bar there.
    virtual void SeekTo(qint64 positionUs) = 0;
    virtual void SetLoop(LoopStatus loop) = 0;
    virtual void SetVolume(double volume) = 0;
    virtual void Quit() = 0;
    virtual void Raise() = 0;
};
