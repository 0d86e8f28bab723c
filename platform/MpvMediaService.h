// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "platform/BackgroundWork.h"
#include "platform/MediaService.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

struct mpv_handle;
struct mpv_event;
struct mpv_node;
class MpvVideoWidget;
class SoundServer;

// The media control service on libmpv, for local files the user picked: no user
// configuration, no scripts, no network, no window of the engine's own.
class MpvMediaService : public MediaService {
public:
    // Names the engine's sound stream in the mixer. The environment is changed:
    // call it before any thread starts.
    static void NameSoundStream();

    // sound: the one client of the sound server, which the engine follows; none
    // in tests without one.
    explicit MpvMediaService(SoundServer* sound = nullptr);
    ~MpvMediaService() override;

    void PrepareDisplayWindow(QWidget* window) override;
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

    // How long an open may take before it is given up, its checks included.
    static constexpr int kOpenTimeoutMs = 5000;
    // How long the engine may take to shut down at exit before it is left behind.
    static constexpr int kEngineAnswerAtExitMs = 500;

    // How long a picture may follow the engine's readiness to play.
    static constexpr int kPictureAfterReadyMs = 1000;

    // The engine's sound output where the sound server plays.
    static constexpr const char* kSoundOutputs = "pulse";

private:
    struct CoreDeleter {
        void operator()(mpv_handle* core) const;
    };

    // What the checks before an open found, off the window's thread.
    struct FileCheck {
        std::optional<QString> Unreadable; // why the engine cannot read the file
        QByteArray Head;                   // its first bytes
    };

    bool CreateCore();
    // Chooses the engine's sound output for the next file: none when the sound
    // server is there but does not answer or cannot play.
    void ChooseSoundOutput();
    void UseSoundOutput(bool silent);
    void ChecksDone(FileCheck check);
    // Looks where the open under way stands, and ends it when it has ended.
    void AdvanceOpen();
    void EndOpen(MediaError result);
    // Asks the engine to quit; whether it has shut down within the time.
    bool EngineShutDown(int timeoutMs);
    void SendStop();
    // The engine, and the surface's render context on it.
    bool PrepareSurface();
    bool Valid(MediaDeviceId device) const { return device != 0 && device == device_; }
    MediaError Fail(const QString& text);
    void Drain();
    void Handle(const mpv_event& event);
    std::uint64_t SizeReplyTag(int item) const { return opens_ << 8 | static_cast<unsigned>(item); }
    // The engine's position is its own again: the seek has landed or was refused.
    void SeekDone();
    static bool HasVideoTrack(const mpv_node& tracks);
    void Seek(int ms);
    void SetPaused(bool paused);
    void Notify(MediaNotify kind);
    int LengthMs() const;

    std::unique_ptr<mpv_handle, CoreDeleter> core_;
    QString coreError_;
    QObject pump_; // receives the engine's wake-ups on the GUI thread
    QPointer<QWidget> display_;
    QPointer<MpvVideoWidget> surface_;
    std::function<void(MediaDeviceId, MediaNotify)> notify_;

    MediaDeviceId device_ = 0;
    MediaDeviceId lastDevice_ = 0;
    QString lastError_;

    // What the engine last told, kept so that a status costs nothing.
    double timePos_ = 0;
    double duration_ = 0;
    std::int64_t displayWidth_ = 0; // the picture's size with its aspect applied
    std::int64_t displayHeight_ = 0;
    std::int64_t voDropped_ = 0; // frames dropped, counted only for the diagnostics
    std::int64_t decoderDropped_ = 0;
    bool paused_ = true;
    bool eofReached_ = false;
    bool stopped_ = true;
    std::optional<int> pendingPosition_; // a seek sent and not yet done
    std::uint64_t lastSeek_ = 0;         // the reply tag of the last seek sent
    std::uint64_t opens_ = 0;            // opens begun, for their replies and checks
    bool seekLanded_ = false;            // the engine has said the seek is done
    MediaRect source_;
    MediaRect destination_;
    bool hasVideo_ = false;
    bool playNoticePending_ = false;
    // A closed file stays loaded, paused, until the next open replaces it or the
    // event loop comes round: the sound output then stays open between files.
    bool stopDue_ = false;
    QPointer<SoundServer> sound_;
    std::string soundHost_;      // the server the engine is pointed at
    bool soundSilenced_ = false; // the engine plays without sound output

    // The open's file checks: the file may be on a share that does not answer.
    // Their result arrives within the open that asked for them.
    BackgroundWork checks_{[](const std::function<void()>& delivery) noexcept {
        delivery();
    }};

    // The open asked for, from its start to its end.
    struct OpenRequest {
        OpenDone done;
        QByteArray path;
        QByteArray head;
        QElapsedTimer clock;
        qint64 readyAt = -1;
        std::optional<FileCheck> checked; // waiting for the render path
    };
    std::optional<OpenRequest> request_;
    QTimer openSteps_; // the open's deadlines, and the surface served meanwhile

    // What the engine said of the file it was asked to load.
    struct LoadState {
        qint64 entryId = -1;
        bool loaded = false;
        bool tracksKnown = false;
        bool rotationKnown = false;
        bool quarterTurned = false; // shown a quarter turn from how it is stored
        bool hasVideo = false;
        bool lengthKnown = false;
        bool videoConfigured = false;
        bool playbackReady = false;
        bool failed = false;
        bool redirected = false;
        int error = 0;     // the engine's code for the failure
        bool idle = false; // the engine is idle after the failure: its words are all in
        QStringList log;
    };
    std::optional<LoadState> loading_;
};
