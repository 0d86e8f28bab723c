// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "platform/MediaService.h"

#include <QStringList>
#include <QTimer>

#include <map>

// A media service whose files a test describes and whose clock the test moves,
// so the player's logic runs fast and the same every time.
class SimulatedMediaService : public MediaService {
public:
    struct File {
        int LengthMs = 0;
        int Width = 0; // 0: no picture
        int Height = 0;
        QString OpenError; // not empty: the file cannot be opened, for this reason
    };

    void AddFile(const QByteArray& path, const File& file) { files_[path] = file; }
    // Moves the clock; a playing file advances and stops at its end.
    void Advance(int ms);
    // How long each open takes from now on; 0, the start: it ends before Open returns.
    void SetOpenTime(int ms) { openTimeMs_ = ms; }
    bool Opening() const { return opening_.isActive(); }

    // What the player asked for, one line a command ("open /x/a.mpg", "play from 500").
    const QStringList& Commands() const { return commands_; }
    void ClearCommands() { commands_.clear(); }
    bool IsOpen() const { return device_ != 0; }
    QWidget* DisplayWindow() const { return display_; }
    QWidget* PreparedWindow() const { return prepared_; }
    MediaRect Destination() const { return destination_; }
    int Notices(MediaNotify kind) const;

    void PrepareDisplayWindow(QWidget* window) override { prepared_ = window; }
    void Open(const QByteArray& path, OpenDone done) override;
    void AbandonOpen() override;
    MediaError Close(MediaDeviceId device) override;
    MediaError Play(MediaDeviceId device, std::optional<int> from) override;
    MediaError SeekToStart(MediaDeviceId device) override;
    MediaError Stop(MediaDeviceId device) override;
    MediaError Pause(MediaDeviceId device) override;
    MediaError Resume(MediaDeviceId device) override;
    MediaError Status(MediaDeviceId device, MediaStatusItem item, int* value) override;
    MediaError HasVideo(MediaDeviceId device, bool* hasVideo) override;
    MediaError SetTimeFormat(MediaDeviceId device, int format) override;
    MediaError SetDisplayWindow(MediaDeviceId device, QWidget* window) override;
    MediaError PutDestination(MediaDeviceId device, const MediaRect& rect) override;
    MediaError WhereDestination(MediaDeviceId device, MediaRect* rect) override;
    MediaError WhereSource(MediaDeviceId device, MediaRect* rect) override;
    QString ErrorText(MediaError error) override;
    void SetNotifyHandler(std::function<void(MediaDeviceId, MediaNotify)> handler) override {
        notify_ = std::move(handler);
    }

private:
    MediaError EndOpen(const QByteArray& path, MediaDeviceId* device);

    int openTimeMs_ = 0;
    QTimer opening_;
    bool Valid(MediaDeviceId device) const { return device != 0 && device == device_; }
    void Notify(MediaNotify kind);

    std::map<QByteArray, File> files_;
    QStringList commands_;
    MediaDeviceId device_ = 0;
    MediaDeviceId lastDevice_ = 0;
    File current_;
    int position_ = 0;
    int mode_ = MediaServiceMode::Stopped;
    bool playNoticePending_ = false;
    QWidget* prepared_ = nullptr;
    QWidget* display_ = nullptr;
    MediaRect destination_;
    QString lastError_;
    std::map<MediaNotify, int> notices_;
    std::function<void(MediaDeviceId, MediaNotify)> notify_;
};
