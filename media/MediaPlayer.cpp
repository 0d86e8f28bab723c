// SPDX-License-Identifier: GPL-3.0-or-later

#include "media/MediaPlayer.h"

#include "common/ErrorReport.h"
#include "common/Exceptions.h"

#include <QWidget>

#include <utility>

namespace {
const char* const kNoDevice = "MCI デバイスがありません";
}

TMediaPlayer::TMediaPlayer(const QString& name, QObject* owner,
                           std::unique_ptr<MediaService> service)
    : QObject(owner), service_(std::move(service)) {
    setObjectName(name);
    // Notices arrive as window messages do: after the command that caused them.
    service_->SetNotifyHandler([this](MediaDeviceId, MediaNotify notice) {
        if (notice == MediaNotify::Successful)
            QMetaObject::invokeMethod(this, &TMediaPlayer::Ended, Qt::QueuedConnection);
    });
}

TMediaPlayer::~TMediaPlayer() {
    Close();
    service_->SetNotifyHandler(nullptr);
}

MediaError TMediaPlayer::Send(MediaError result) {
    error_ = result;
    return result;
}

void TMediaPlayer::RequireDevice() const {
    if (deviceId_ == 0)
        throw EMCIDeviceError(QString::fromUtf8(kNoDevice));
}

void TMediaPlayer::Open(std::function<void()> ended) {
    Close();
    state_ = TMediaState::Opening;
    Q_EMIT OpeningChanged();
    service_->Open(FileName,
                   [this, ended = std::move(ended)](MediaError result, MediaDeviceId device) {
                       state_ = TMediaState::Idle;
                       if (Send(result) == MediaErrors::None)
                           Opened(device);
                       Q_EMIT OpeningChanged();
                       if (ended)
                           RunGuarded(ended);
                       Q_EMIT OpenEnded();
                   });
}

void TMediaPlayer::RaiseOpenError() {
    if (deviceId_ == 0)
        throw EMCIDeviceError(ErrorMessage());
}

void TMediaPlayer::Opened(MediaDeviceId device) {
    state_ = TMediaState::Open;
    deviceId_ = device;
    pendingStart_.reset();
    bool hasVideo = false;
    Send(service_->HasVideo(deviceId_, &hasVideo));
    hasPicture_ = hasVideo;
    MediaRect source;
    if (Send(service_->WhereSource(deviceId_, &source)) == MediaErrors::None) {
        pictureWidth_ = source.Width();
        pictureHeight_ = source.Height();
    }
    if (hasPicture_) {
        SetDisplay(display_);
        MediaRect own;
        if (Send(service_->WhereDestination(deviceId_, &own)) == MediaErrors::None) {
            pictureWidth_ = own.Width();
            pictureHeight_ = own.Height();
        }
    }
}

void TMediaPlayer::Close() {
    if (state_ == TMediaState::Opening) {
        service_->AbandonOpen();
        state_ = TMediaState::Idle;
    }
    if (deviceId_ == 0)
        return;
    if (Send(service_->Close(deviceId_)) == MediaErrors::None) {
        deviceId_ = 0;
        state_ = TMediaState::Idle;
        hasPicture_ = false;
    }
}

void TMediaPlayer::Play() {
    RequireDevice();
    if (!pendingStart_ && Position() == Length())
        service_->SeekToStart(deviceId_);
    Send(service_->Play(deviceId_, std::exchange(pendingStart_, std::nullopt)));
}

void TMediaPlayer::Stop() {
    RequireDevice();
    Send(service_->Stop(deviceId_));
}

void TMediaPlayer::Pause() {
    RequireDevice();
    const TMPModes mode = Mode();
    if (mode == mpPlaying) {
        Send(service_->Pause(deviceId_));
    } else if (mode == mpPaused) {
        if (Send(service_->Resume(deviceId_)) != MediaErrors::None)
            Play();
    }
}

void TMediaPlayer::SetStartPosition(int position) {
    pendingStart_ = position;
}

int TMediaPlayer::Length() {
    RequireDevice();
    int value = 0;
    Send(service_->Status(deviceId_, MediaStatusItem::Length, &value));
    return value;
}

int TMediaPlayer::Position() {
    int value = 0;
    Send(service_->Status(deviceId_, MediaStatusItem::Position, &value));
    return value;
}

TMPModes TMediaPlayer::Mode() {
    int value = MediaServiceMode::NotReady;
    if (Send(service_->Status(deviceId_, MediaStatusItem::Mode, &value)) != MediaErrors::None)
        return mpNotReady;
    const int mode = value - MediaServiceMode::NotReady;
    return mode >= mpNotReady && mode <= mpOpen ? static_cast<TMPModes>(mode) : mpNotReady;
}

void TMediaPlayer::SetTimeFormat(int format) {
    Send(service_->SetTimeFormat(deviceId_, format));
}

void TMediaPlayer::SetDisplay(QWidget* window) {
    if (window != display_.data()) {
        disconnect(displayWatch_);
        if (window) {
            displayWatch_ =
                connect(window, &QObject::destroyed, this, &TMediaPlayer::DisplayDestroyed);
            service_->PrepareDisplayWindow(window);
        }
    }
    display_ = window;
    if (window && deviceId_ != 0 && hasPicture_) {
        if (Send(service_->SetDisplayWindow(deviceId_, window)) != MediaErrors::None) {
            disconnect(displayWatch_);
            display_ = nullptr;
        }
    }
}

void TMediaPlayer::DisplayDestroyed() {
    display_ = nullptr;
    if (deviceId_ != 0)
        Send(service_->SetDisplayWindow(deviceId_, nullptr));
}

void TMediaPlayer::GetDisplayRect(MediaRect& rect) {
    if (deviceId_ == 0 || !hasPicture_)
        return;
    MediaRect where;
    if (Send(service_->WhereDestination(deviceId_, &where)) == MediaErrors::None)
        rect = where;
}

void TMediaPlayer::SetDisplayRect(const MediaRect& rect) {
    if (deviceId_ == 0 || !hasPicture_)
        return;
    MediaRect put = rect;
    if (rect.Right == 0 && rect.Bottom == 0)
        put = {rect.Left, rect.Top, rect.Left + pictureWidth_, rect.Top + pictureHeight_};
    Send(service_->PutDestination(deviceId_, put));
}

QString TMediaPlayer::ErrorMessage() {
    const QString text = service_->ErrorText(error_);
    return text.isEmpty() ? QStringLiteral("原因不明のエラー") : text;
}
