// SPDX-License-Identifier: GPL-3.0-or-later

// The picture's place: the surface the engine draws into, inside the display
// window, and the rectangle it is stretched to.

#include "platform/MpvMediaService.h"

#include "platform/MpvVideoWidget.h"

#include <QWidget>

#include <algorithm>
#include <utility>

void MpvMediaService::PrepareDisplayWindow(QWidget* window) {
    if (!window || (display_ == window && surface_))
        return;
    display_ = window;
    // Hidden while nothing plays: it stacks above the window's other children.
    surface_ = new MpvVideoWidget(window);
    surface_->setGeometry(window->rect());
    surface_->hide();
    // The engine and the render set-up once the window is up and the path is
    // chosen: neither the start nor the first Play waits for them.
    QObject::connect(surface_, &MpvVideoWidget::PathChosen, surface_, [this] {
        PrepareSurface();
        if (request_ && request_->checked)
            ChecksDone(*std::exchange(request_->checked, std::nullopt));
    });
}

bool MpvMediaService::PrepareSurface() {
    if (!surface_ || !CreateCore())
        return false;
    surface_->SetCore(core_.get());
    return surface_->Ready();
}

MediaError MpvMediaService::SetDisplayWindow(MediaDeviceId device, QWidget* window) {
    if (!Valid(device))
        return MediaErrors::InvalidDevice;
    if (!surface_)
        return MediaErrors::Unsupported;
    if (!window) {
        surface_->hide();
        return MediaErrors::None;
    }
    if (window != display_)
        return MediaErrors::Unsupported; // the surface lives in the window it was made in
    surface_->show();
    return MediaErrors::None;
}

MediaError MpvMediaService::PutDestination(MediaDeviceId device, const MediaRect& rect) {
    if (!Valid(device))
        return MediaErrors::InvalidDevice;
    if (!hasVideo_)
        return MediaErrors::NoPicture;
    destination_ = rect;
    if (rect.Right == 0 && rect.Bottom == 0)
        destination_ = {rect.Left, rect.Top, rect.Left + source_.Width(),
                        rect.Top + source_.Height()};
    if (surface_)
        surface_->setGeometry(destination_.Left, destination_.Top,
                              std::max(0, destination_.Width()),
                              std::max(0, destination_.Height()));
    return MediaErrors::None;
}

MediaError MpvMediaService::WhereDestination(MediaDeviceId device, MediaRect* rect) {
    if (!Valid(device))
        return MediaErrors::InvalidDevice;
    if (!hasVideo_)
        return MediaErrors::NoPicture;
    *rect = destination_;
    return MediaErrors::None;
}

MediaError MpvMediaService::WhereSource(MediaDeviceId device, MediaRect* rect) {
    if (!Valid(device))
        return MediaErrors::InvalidDevice;
    *rect = source_;
    return MediaErrors::None;
}
