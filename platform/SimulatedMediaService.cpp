// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/SimulatedMediaService.h"

#include <algorithm>

void SimulatedMediaService::Advance(int ms) {
    if (!device_ || mode_ != MediaServiceMode::Playing)
        return;
    position_ = std::min(position_ + ms, current_.LengthMs);
    if (position_ == current_.LengthMs) {
        mode_ = MediaServiceMode::Stopped;
        Notify(MediaNotify::Successful);
    }
}

int SimulatedMediaService::Notices(MediaNotify kind) const {
    const auto found = notices_.find(kind);
    return found == notices_.end() ? 0 : found->second;
}

void SimulatedMediaService::Notify(MediaNotify kind) {
    if (!playNoticePending_)
        return;
    playNoticePending_ = false;
    ++notices_[kind];
    if (notify_)
        notify_(device_, kind);
}

void SimulatedMediaService::Open(const QByteArray& path, OpenDone done) {
    commands_ << QStringLiteral("open %1").arg(QString::fromUtf8(path));
    const auto end = [this, path, done = std::move(done)] {
        MediaDeviceId device = 0;
        const MediaError result = EndOpen(path, &device);
        done(result, device);
    };
    opening_.disconnect();
    if (openTimeMs_ <= 0)
        return end();
    opening_.setSingleShot(true);
    QObject::connect(&opening_, &QTimer::timeout, end);
    opening_.start(openTimeMs_);
}

void SimulatedMediaService::AbandonOpen() {
    if (!opening_.isActive())
        return;
    commands_ << QStringLiteral("abandon open");
    opening_.stop();
}

MediaError SimulatedMediaService::EndOpen(const QByteArray& path, MediaDeviceId* device) {
    const auto found = files_.find(path);
    if (found == files_.end() || !found->second.OpenError.isEmpty()) {
        lastError_ = found == files_.end()
                         ? QStringLiteral("no such file: %1").arg(QString::fromUtf8(path))
                         : found->second.OpenError;
        return MediaErrors::CannotOpen;
    }
    current_ = found->second;
    lastDevice_ = static_cast<MediaDeviceId>(lastDevice_ % 0xFFFF + 1);
    device_ = lastDevice_;
    position_ = 0;
    mode_ = MediaServiceMode::Stopped;
    destination_ = {0, 0, current_.Width, current_.Height};
    *device = device_;
    return MediaErrors::None;
}

MediaError SimulatedMediaService::Close(MediaDeviceId device) {
    if (!Valid(device))
        return MediaErrors::InvalidDevice;
    commands_ << QStringLiteral("close");
    Notify(MediaNotify::Aborted);
    device_ = 0;
    display_ = nullptr;
    return MediaErrors::None;
}

MediaError SimulatedMediaService::Play(MediaDeviceId device, std::optional<int> from) {
    if (!Valid(device))
        return MediaErrors::InvalidDevice;
    commands_ << (from ? QStringLiteral("play from %1").arg(*from) : QStringLiteral("play"));
    Notify(MediaNotify::Superseded);
    if (from)
        position_ = std::clamp(*from, 0, current_.LengthMs);
    // A device standing at its end stays there: playing needs a rewind first.
    mode_ = position_ >= current_.LengthMs ? MediaServiceMode::Stopped : MediaServiceMode::Playing;
    playNoticePending_ = true;
    if (mode_ == MediaServiceMode::Stopped)
        Notify(MediaNotify::Successful);
    return MediaErrors::None;
}

MediaError SimulatedMediaService::SeekToStart(MediaDeviceId device) {
    if (!Valid(device))
        return MediaErrors::InvalidDevice;
    commands_ << QStringLiteral("seek to start");
    Notify(MediaNotify::Aborted);
    position_ = 0;
    mode_ = MediaServiceMode::Stopped;
    return MediaErrors::None;
}

MediaError SimulatedMediaService::Stop(MediaDeviceId device) {
    if (!Valid(device))
        return MediaErrors::InvalidDevice;
    commands_ << QStringLiteral("stop");
    Notify(MediaNotify::Aborted);
    mode_ = MediaServiceMode::Stopped;
    return MediaErrors::None;
}

MediaError SimulatedMediaService::Pause(MediaDeviceId device) {
    if (!Valid(device))
        return MediaErrors::InvalidDevice;
    commands_ << QStringLiteral("pause");
    if (mode_ == MediaServiceMode::Playing)
        mode_ = MediaServiceMode::Paused;
    return MediaErrors::None;
}

MediaError SimulatedMediaService::Resume(MediaDeviceId device) {
    if (!Valid(device))
        return MediaErrors::InvalidDevice;
    commands_ << QStringLiteral("resume");
    if (mode_ != MediaServiceMode::Paused)
        return MediaErrors::Unsupported;
    mode_ = MediaServiceMode::Playing;
    return MediaErrors::None;
}

MediaError SimulatedMediaService::Status(MediaDeviceId device, MediaStatusItem item, int* value) {
    if (!Valid(device))
        return MediaErrors::InvalidDevice;
    switch (item) {
    case MediaStatusItem::Length:
        *value = current_.LengthMs;
        break;
    case MediaStatusItem::Position:
        *value = position_;
        break;
    case MediaStatusItem::Mode:
        *value = mode_;
        break;
    }
    return MediaErrors::None;
}

MediaError SimulatedMediaService::HasVideo(MediaDeviceId device, bool* hasVideo) {
    if (!Valid(device))
        return MediaErrors::InvalidDevice;
    *hasVideo = current_.Width > 0 && current_.Height > 0;
    return MediaErrors::None;
}

MediaError SimulatedMediaService::SetTimeFormat(MediaDeviceId device, int format) {
    if (!Valid(device))
        return MediaErrors::InvalidDevice;
    commands_ << QStringLiteral("time format %1").arg(format);
    return format == kTimeFormatMilliseconds ? MediaErrors::None : MediaErrors::Unsupported;
}

MediaError SimulatedMediaService::SetDisplayWindow(MediaDeviceId device, QWidget* window) {
    if (!Valid(device))
        return MediaErrors::InvalidDevice;
    commands_ << (window ? QStringLiteral("window") : QStringLiteral("window none"));
    display_ = window;
    return MediaErrors::None;
}

MediaError SimulatedMediaService::PutDestination(MediaDeviceId device, const MediaRect& rect) {
    if (!Valid(device))
        return MediaErrors::InvalidDevice;
    if (current_.Width <= 0)
        return MediaErrors::NoPicture;
    destination_ = rect;
    if (rect.Right == 0 && rect.Bottom == 0)
        destination_ = {rect.Left, rect.Top, rect.Left + current_.Width,
                        rect.Top + current_.Height};
    commands_ << QStringLiteral("put %1 %2 %3 %4")
                     .arg(destination_.Left)
                     .arg(destination_.Top)
                     .arg(destination_.Right)
                     .arg(destination_.Bottom);
    return MediaErrors::None;
}

MediaError SimulatedMediaService::WhereDestination(MediaDeviceId device, MediaRect* rect) {
    if (!Valid(device))
        return MediaErrors::InvalidDevice;
    if (current_.Width <= 0)
        return MediaErrors::NoPicture;
    *rect = destination_;
    return MediaErrors::None;
}

MediaError SimulatedMediaService::WhereSource(MediaDeviceId device, MediaRect* rect) {
    if (!Valid(device))
        return MediaErrors::InvalidDevice;
    *rect = {0, 0, current_.Width, current_.Height};
    return MediaErrors::None;
}

QString SimulatedMediaService::ErrorText(MediaError error) {
    switch (error) {
    case MediaErrors::CannotOpen:
        return lastError_;
    case MediaErrors::InvalidDevice:
        return QStringLiteral("The device is not open.");
    default:
        return {};
    }
}
