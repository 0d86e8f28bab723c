// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// The media device layer: one media file at a time on the media control
// service, with the operations and rules the player relies on.

#include "platform/MediaService.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <optional>

class QWidget;

enum TMPModes { mpNotReady, mpStopped, mpPlaying, mpRecording, mpSeeking, mpPaused, mpOpen };

// Whether a file is open: Opening from the start of an open until it ends.
enum class TMediaState { Idle, Opening, Open };

class TMediaPlayer : public QObject {
    Q_OBJECT
public:
    TMediaPlayer(const QString& name, QObject* owner, std::unique_ptr<MediaService> service);
    ~TMediaPlayer() override;

    QByteArray FileName; // absolute path, the file system's bytes

Q_SIGNALS:
    // Playback reached the end of the file: whoever polls the mode can look now.
    void Ended();
    // An open has begun, or its result is in and its continuation is about to run.
    void OpeningChanged();
    // An open has ended and its continuation has run.
    void OpenEnded();

public:
    // Begins opening FileName, closing any open file first, and returns at once.
    // When the open ends, ended runs inside the error guard; there
    // RaiseOpenError raises EMCIDeviceError with the service's reason if it failed.
    void Open(std::function<void()> ended);
    void RaiseOpenError();
    // Closes the open file, or gives up the open under way.
    void Close();
    TMediaState State() const { return state_; }
    void Play();
    void Stop();
    // Pauses a playing file; resumes a paused one; otherwise does nothing.
    void Pause();
    // The start point of the next Play, which consumes it.
    void SetStartPosition(int position);
    int Length();
    int Position();
    TMPModes Mode();
    void SetTimeFormat(int format);

    QWidget* Display() const { return display_; }
    void SetDisplay(QWidget* window);
    // Leaves rect as it was unless a file with a picture is open.
    void GetDisplayRect(MediaRect& rect);
    void SetDisplayRect(const MediaRect& rect);

    MediaDeviceId DeviceID() const { return deviceId_; }
    MediaError Error() const { return error_; }
    QString ErrorMessage();

private:
    void RequireDevice() const;
    MediaError Send(MediaError result);
    void DisplayDestroyed();
    void Opened(MediaDeviceId device);

    std::unique_ptr<MediaService> service_;
    QPointer<QWidget> display_;
    QMetaObject::Connection displayWatch_;
    MediaDeviceId deviceId_ = 0;
    TMediaState state_ = TMediaState::Idle;
    bool hasPicture_ = false;
    int pictureWidth_ = 0;
    int pictureHeight_ = 0;
    MediaError error_ = 0;
    std::optional<int> pendingStart_;
};
