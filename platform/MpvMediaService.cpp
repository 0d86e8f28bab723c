// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/MpvMediaService.h"

#include "platform/EngineDiagnostics.h"
#include "platform/OpenFailure.h"
#include "platform/SoundServer.h"

#include "platform/MpvVideoWidget.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <mpv/client.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// Engine properties, named once.
const char* const kTimePos = "time-pos";
const char* const kDuration = "duration";
const char* const kPause = "pause";
const char* const kEofReached = "eof-reached";
const char* const kTrackList = "track-list";
const char* const kDisplayWidth = "dwidth";
const char* const kDisplayHeight = "dheight";
const char* const kVoDropped = "frame-drop-count";
const char* const kDecoderDropped = "decoder-frame-drop-count";
const char* const kRotation = "video-params/rotate";

enum ObservedProperty : std::uint64_t {
    ObservedTimePos = 1,
    ObservedDuration,
    ObservedPause,
    ObservedEof,
    ObservedVoDropped,
    ObservedDecoderDropped,
    ObservedRotation
};

// The picture's size is asked for at each open, not observed.
enum SizeReply : int {
    SizeReplyWidth = 1,
    SizeReplyHeight,
    SizeReplyRotation,
    LoadReply,
    TracksReply,
    LengthReply
};

// Options for a player of local files the user chose.
const char* const kOptions[][2] = {
    {"config", "no"},
    {"load-scripts", "no"},
    {"ytdl", "no"},
    {"osc", "no"},
    {"load-stats-overlay", "no"},
    {"load-osd-console", "no"},
    {"load-auto-profiles", "no"},
    {"input-default-bindings", "no"},
    {"input-vo-keyboard", "no"},
    {"input-cursor", "no"},
    {"terminal", "no"},
    {"access-references", "no"}, // a playlist must not reach the network
    // The engine reads the chosen file itself; none of the demuxers' own
    // protocols may open another (a concat list would play any file beside it).
    {"demuxer-lavf-o", "protocol_whitelist=none"},
    {"autoload-files", "no"},
    {"resume-playback", "no"},
    {"sub-auto", "no"},
    {"audio-file-auto", "no"},
    {"cover-art-auto", "no"},
    {"audio-display", "no"},
    {"keep-open", "yes"},
    {"keepaspect", "no"},
    {"idle", "yes"},
    {"pause", "yes"},
    {"vo", "libmpv"}, // never a window of the engine's own
    {"hwdec", "auto-safe"},
    {"gpu-hwdec-interop", "vaapi"},
    {"title", "${media-title}"}, // the stream's name in the mixer
    {"audio-fallback-to-null", "yes"},
    {"ao", MpvMediaService::kSoundOutputs},
    // The name the system's mixer shows; the icon and role come with the stream.
    {"audio-client-name", "org.qelplayer.Qel"},
    // A file opens paused, so a new sound stream starts corked, and a sink that
    // sleeps up to its longest latency (PulseAudio's null sink: 2 s) did not
    // hear the short buffer asked for: the first play after the stream is opened
    // stood still for up to 2 s once the engine's 100 ms ran out. The server's
    // own buffer length covers that sleep; the stream reports its latency, so
    // the picture stays in step, and pause and seek do not wait for the buffer.
    // From mpv 0.37 a pause once the rest of the file is in this buffer first
    // plays it out, with the engine's core held (up to 2 s near a file's end).
    {"pulse-buffer", "native"},
    // mpv 0.38 turned its latency workaround on by default; with it a pause may
    // hang the engine's core for good (seen with mpv 0.40 and PulseAudio 17).
    // The stream's own timing is used, as mpv 0.35 does by default.
    {"pulse-latency-hacks", "no"},
    // Seeks land on the chosen point; MPEG program streams seek by byte estimate
    // and may land past it, so the demuxer is asked for an earlier point.
    {"hr-seek", "yes"},
    {"hr-seek-demuxer-offset", "1.5"},
    // A file of a single frame is a video that has ended, not a picture to show
    // for a second: the play list moves on.
    {"image-display-duration", "0"},
};

// Frames the stream marks as interlaced (DVD, TV and camcorder MPEG-2) are
// deinterlaced into one picture per field, as they were shot; progressive frames
// pass through as they are. The engine's own deinterlace option (0.35) would
// filter every frame. Labelled, so other filters can be added beside it.
const char* const kDeinterlace = "@deinterlace:bwdif=mode=send_field:deint=interlaced";

const mpv_node* MapValue(const mpv_node& map, const char* key) {
    if (map.format != MPV_FORMAT_NODE_MAP)
        return nullptr;
    for (int i = 0; i < map.u.list->num; ++i)
        if (std::strcmp(map.u.list->keys[i], key) == 0)
            return &map.u.list->values[i];
    return nullptr;
}

bool FlagValue(const mpv_node& map, const char* key) {
    const mpv_node* value = MapValue(map, key);
    return value && value->format == MPV_FORMAT_FLAG && value->u.flag;
}

struct FileDescriptor {
    int fd = -1;
    ~FileDescriptor() {
        if (fd >= 0)
            ::close(fd);
    }
};

// Why the engine cannot read the file, in the user's words, or nothing when it
// can. Only a regular file is handed over: a pipe or a device could block the
// engine for good.
std::optional<QString> Unreadable(const QByteArray& path, QByteArray* head) {
    const auto failed = [] {
        return OpenFailure::UnreadableText(QString::fromLocal8Bit(std::strerror(errno)));
    };
    FileDescriptor file{::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
    struct stat info {};
    if (file.fd < 0 || ::fstat(file.fd, &info) != 0)
        return failed();
    if (S_ISDIR(info.st_mode))
        return OpenFailure::FolderText();
    if (!S_ISREG(info.st_mode))
        return OpenFailure::UnreadableText(QStringLiteral("it is a pipe or a device, not a file"));
    head->resize(4096);
    const ssize_t got = ::pread(file.fd, head->data(), static_cast<std::size_t>(head->size()), 0);
    if (got < 0)
        return failed();
    head->resize(got);
    return std::nullopt;
}

} // namespace

void MpvMediaService::CoreDeleter::operator()(mpv_handle* core) const {
    mpv_terminate_destroy(core);
}

void MpvMediaService::NameSoundStream() {
    // The mixer names the stream after the application, not after the icon
    // that the engine names it by.
    QByteArray properties = qgetenv("PULSE_PROP_OVERRIDE");
    if (!properties.contains("application.name")) {
        properties += " application.name='Qel' application.icon_name='org.qelplayer.Qel' "
                      "media.role='video'";
        qputenv("PULSE_PROP_OVERRIDE", properties.trimmed());
    }
}

MpvMediaService::MpvMediaService(SoundServer* sound) : sound_(sound) {
    // A server that stops answering holds the engine's sound output: it plays on
    // without one.
    if (sound != nullptr)
        QObject::connect(sound, &SoundServer::AnsweringChanged, &pump_, [this](bool answering) {
            if (!answering && core_)
                UseSoundOutput(true);
        });
    // While an open is under way: its deadlines, and the frames the engine hands
    // to a surface that is not shown yet.
    openSteps_.setInterval(10);
    QObject::connect(&openSteps_, &QTimer::timeout, &pump_, [this] {
        if (surface_)
            surface_->ServiceEngine();
        Drain();
        AdvanceOpen();
    });
}

MpvMediaService::~MpvMediaService() {
    EngineDiagnostics::Instance().Exit(voDropped_, decoderDropped_);
    if (!core_)
        return;
    // Callbacks first, then the render context, then the core.
    mpv_set_wakeup_callback(core_.get(), nullptr, nullptr);
    // A core held by a file on a share that does not answer, or by a sound
    // server that does not, never shuts down: it is left to the end of the process.
    if (!EngineShutDown(kEngineAnswerAtExitMs)) {
        // Its render context is left with it: freeing one waits for the core.
        if (surface_) {
            surface_->AbandonRenderContext();
            surface_->setParent(nullptr);
        }
        (void)core_.release();
        return;
    }
    if (surface_) {
        surface_->FreeRenderContext();
        delete surface_.data();
    }
    core_.reset();
}

bool MpvMediaService::EngineShutDown(int timeoutMs) {
    const char* quit[] = {"quit", nullptr};
    if (mpv_command_async(core_.get(), 0, quit) < 0)
        return false;
    QElapsedTimer clock;
    clock.start();
    for (qint64 left = timeoutMs; left > 0; left = timeoutMs - clock.elapsed()) {
        if (mpv_wait_event(core_.get(), static_cast<double>(left) / 1000)->event_id ==
            MPV_EVENT_SHUTDOWN)
            return true;
    }
    return false;
}

bool MpvMediaService::CreateCore() {
    if (core_)
        return true;
    if (!coreError_.isEmpty())
        return false;
    mpv_handle* core = mpv_create();
    if (!core) {
        coreError_ = QStringLiteral("The media engine could not be started.");
        return false;
    }
    core_.reset(core);
    for (const auto& option : kOptions) {
        if (mpv_set_option_string(core, option[0], option[1]) < 0) {
            coreError_ = QStringLiteral("The media engine could not be started.");
            core_.reset();
            return false;
        }
    }
    // An engine built without the filter still plays, combed.
    mpv_set_option_string(core, "vf", kDeinterlace);
    mpv_request_log_messages(core, "error");
    if (mpv_initialize(core) < 0) {
        coreError_ = QStringLiteral("The media engine could not be initialised.");
        core_.reset();
        return false;
    }
    mpv_observe_property(core, ObservedTimePos, kTimePos, MPV_FORMAT_DOUBLE);
    mpv_observe_property(core, ObservedDuration, kDuration, MPV_FORMAT_DOUBLE);
    mpv_observe_property(core, ObservedPause, kPause, MPV_FORMAT_FLAG);
    mpv_observe_property(core, ObservedEof, kEofReached, MPV_FORMAT_FLAG);
    mpv_observe_property(core, ObservedRotation, kRotation, MPV_FORMAT_INT64);
    if (EngineDiagnostics::Instance().Enabled()) {
        mpv_observe_property(core, ObservedVoDropped, kVoDropped, MPV_FORMAT_INT64);
        mpv_observe_property(core, ObservedDecoderDropped, kDecoderDropped, MPV_FORMAT_INT64);
    }
    // The wake-up may call nothing of the engine: it only schedules a drain.
    mpv_set_wakeup_callback(
        core,
        [](void* self) {
            auto* service = static_cast<MpvMediaService*>(self);
            QMetaObject::invokeMethod(
                &service->pump_,
                [service] {
                    service->Drain();
                    service->AdvanceOpen();
                },
                Qt::QueuedConnection);
        },
        this);
    return true;
}

MediaError MpvMediaService::Fail(const QString& text) {
    lastError_ = text;
    return MediaErrors::CannotOpen;
}

void MpvMediaService::Drain() {
    if (!core_)
        return;
    while (true) {
        const mpv_event* event = mpv_wait_event(core_.get(), 0);
        if (event->event_id == MPV_EVENT_NONE)
            break;
        Handle(*event);
    }
}

void MpvMediaService::Handle(const mpv_event& event) {
    switch (event.event_id) {
    case MPV_EVENT_LOG_MESSAGE:
        if (loading_) {
            const auto* message = static_cast<const mpv_event_log_message*>(event.data);
            const QString text = QString::fromUtf8(message->text).trimmed();
            if (!text.isEmpty() && !loading_->log.contains(text))
                loading_->log << text;
        }
        break;
    case MPV_EVENT_PROPERTY_CHANGE: {
        const auto* property = static_cast<const mpv_event_property*>(event.data);
        const bool present = property->format != MPV_FORMAT_NONE && property->data;
        switch (event.reply_userdata) {
        case ObservedTimePos:
            if (present) {
                timePos_ = *static_cast<double*>(property->data);
                // The first position after the seek has landed is the new one.
                if (seekLanded_)
                    SeekDone();
                if (!paused_ && !pendingPosition_)
                    EngineDiagnostics::Instance().Position(timePos_);
            }
            break;
        case ObservedDuration:
            duration_ = present ? *static_cast<double*>(property->data) : 0.0;
            break;
        case ObservedPause:
            if (present)
                paused_ = *static_cast<int*>(property->data) != 0;
            break;
        case ObservedRotation:
            if (surface_)
                surface_->SetRotation(
                    present ? static_cast<int>(*static_cast<std::int64_t*>(property->data) % 360)
                            : 0);
            break;
        case ObservedVoDropped:
        case ObservedDecoderDropped:
            if (present)
                (event.reply_userdata == ObservedVoDropped ? voDropped_ : decoderDropped_) =
                    *static_cast<std::int64_t*>(property->data);
            break;
        case ObservedEof:
            // Until a seek has landed, an end reported before it is stale.
            if (present && (!pendingPosition_ || seekLanded_)) {
                if (pendingPosition_)
                    SeekDone();
                eofReached_ = *static_cast<int*>(property->data) != 0;
                if (eofReached_) {
                    Notify(MediaNotify::Successful);
                    EngineDiagnostics::Instance().EndOfFile(voDropped_, decoderDropped_);
                }
            }
            break;
        default:
            break;
        }
        break;
    }
    case MPV_EVENT_FILE_LOADED:
        EngineDiagnostics::Instance().OpenStep("loaded");
        if (loading_) {
            loading_->loaded = true;
            // Asked for without waiting: the core goes on to open the sound
            // output, which may wait on the sound server for half a minute.
            mpv_get_property_async(core_.get(), SizeReplyTag(TracksReply), kTrackList,
                                   MPV_FORMAT_NODE);
            mpv_get_property_async(core_.get(), SizeReplyTag(LengthReply), kDuration,
                                   MPV_FORMAT_DOUBLE);
        }
        break;
    case MPV_EVENT_VIDEO_RECONFIG:
        EngineDiagnostics::Instance().OpenStep("video-configured");
        // Asked for without waiting: a read waits for the core, and the core waits
        // for the render side while it sets the picture up. Not observed either:
        // a file of the same size as the last one would bring no change to observe.
        // The open's number in the tag keeps a late answer for the last file out.
        if (loading_) {
            mpv_get_property_async(core_.get(), SizeReplyTag(SizeReplyWidth), kDisplayWidth,
                                   MPV_FORMAT_INT64);
            mpv_get_property_async(core_.get(), SizeReplyTag(SizeReplyHeight), kDisplayHeight,
                                   MPV_FORMAT_INT64);
            mpv_get_property_async(core_.get(), SizeReplyTag(SizeReplyRotation), kRotation,
                                   MPV_FORMAT_INT64);
        }
        break;
    case MPV_EVENT_GET_PROPERTY_REPLY: {
        const auto* property = static_cast<const mpv_event_property*>(event.data);
        if (loading_ && event.reply_userdata == SizeReplyTag(TracksReply)) {
            loading_->tracksKnown = true;
            loading_->hasVideo = event.error >= 0 && property->format == MPV_FORMAT_NODE &&
                                 HasVideoTrack(*static_cast<const mpv_node*>(property->data));
            break;
        }
        if (loading_ && event.reply_userdata == SizeReplyTag(LengthReply)) {
            loading_->lengthKnown = true;
            if (event.error >= 0 && property->format == MPV_FORMAT_DOUBLE && duration_ <= 0)
                duration_ = *static_cast<double*>(property->data);
            break;
        }
        const bool present =
            event.error >= 0 && property->format == MPV_FORMAT_INT64 && property->data;
        if (!loading_)
            break;
        if (event.reply_userdata == SizeReplyTag(SizeReplyRotation)) {
            // A picture without a declared turn has none.
            loading_->quarterTurned =
                present && *static_cast<std::int64_t*>(property->data) % 180 == 90;
            loading_->rotationKnown = true;
        } else if (present && event.reply_userdata == SizeReplyTag(SizeReplyWidth)) {
            displayWidth_ = *static_cast<std::int64_t*>(property->data);
        } else if (present && event.reply_userdata == SizeReplyTag(SizeReplyHeight)) {
            displayHeight_ = *static_cast<std::int64_t*>(property->data);
        } else {
            break;
        }
        if (displayWidth_ > 0 && displayHeight_ > 0 && loading_->rotationKnown) {
            // The picture's own size as it is shown: a quarter turn swaps its sides.
            const auto [w, h] = loading_->quarterTurned ? std::pair(displayHeight_, displayWidth_)
                                                        : std::pair(displayWidth_, displayHeight_);
            source_ = {0, 0, static_cast<int>(w), static_cast<int>(h)};
            loading_->videoConfigured = true;
        }
        break;
    }
    case MPV_EVENT_COMMAND_REPLY:
        if (loading_ && event.reply_userdata == SizeReplyTag(LoadReply)) {
            const auto* result = static_cast<const mpv_event_command*>(event.data);
            if (event.error < 0) {
                loading_->failed = true;
                loading_->error = event.error;
            } else if (const mpv_node* id = MapValue(result->result, "playlist_entry_id");
                       id && id->format == MPV_FORMAT_INT64) {
                loading_->entryId = id->u.int64;
            }
            break;
        }
        if (event.reply_userdata != 0 && event.reply_userdata == lastSeek_ && event.error < 0 &&
            pendingPosition_)
            SeekDone();
        break;
    case MPV_EVENT_PLAYBACK_RESTART:
        EngineDiagnostics::Instance().OpenStep("playback-ready");
        if (loading_)
            loading_->playbackReady = true;
        if (pendingPosition_) {
            // The observed position follows; it already holds when it is the chosen one.
            seekLanded_ = true;
            if (std::abs(timePos_ * 1000.0 - *pendingPosition_) < 50)
                SeekDone();
        }
        break;
    case MPV_EVENT_END_FILE: {
        const auto* end = static_cast<const mpv_event_end_file*>(event.data);
        // The reply with the entry's id comes before any event of the entry.
        if (loading_ && loading_->entryId >= 0 && end->playlist_entry_id == loading_->entryId &&
            (end->reason == MPV_END_FILE_REASON_ERROR ||
             end->reason == MPV_END_FILE_REASON_REDIRECT)) {
            loading_->failed = true;
            loading_->redirected = end->reason == MPV_END_FILE_REASON_REDIRECT;
            loading_->error = end->error;
        }
        break;
    }
    case MPV_EVENT_IDLE:
        if (loading_ && loading_->failed)
            loading_->idle = true;
        break;
    case MPV_EVENT_SHUTDOWN:
        coreError_ = QStringLiteral("The media engine has stopped.");
        break;
    default:
        break;
    }
}

void MpvMediaService::SeekDone() {
    pendingPosition_.reset();
    seekLanded_ = false;
}

bool MpvMediaService::HasVideoTrack(const mpv_node& tracks) {
    if (tracks.format != MPV_FORMAT_NODE_ARRAY)
        return false;
    for (int i = 0; i < tracks.u.list->num; ++i) {
        const mpv_node& track = tracks.u.list->values[i];
        const mpv_node* type = MapValue(track, "type");
        if (type && type->format == MPV_FORMAT_STRING &&
            std::strcmp(type->u.string, "video") == 0 && !FlagValue(track, "albumart"))
            return true;
    }
    return false;
}

void MpvMediaService::SendStop() {
    stopDue_ = false;
    const char* stop[] = {"stop", nullptr};
    mpv_command_async(core_.get(), 0, stop);
}

void MpvMediaService::Open(const QByteArray& path, OpenDone done) {
    EngineDiagnostics::Instance().OpenStarted();
    AbandonOpen();
    if (device_ != 0)
        Close(device_);
    if (!CreateCore())
        return done(Fail(coreError_), 0);
    // The file closed last is replaced by this one, or stopped on any failure.
    stopDue_ = false;
    request_.emplace();
    ++opens_;
    request_->done = std::move(done);
    request_->path = path;
    request_->clock.start();
    openSteps_.start();
    checks_.Start([this, path]() -> BackgroundWork::Delivery {
        FileCheck check;
        check.Unreadable = Unreadable(path, &check.Head);
        return [this, check]() mutable {
            ChecksDone(std::move(check));
        };
    });
}

void MpvMediaService::ChecksDone(FileCheck check) {
    // Only just after the start: the open goes on once the render path is chosen.
    if (!check.Unreadable && surface_ && surface_->Path() == RenderPath::Undecided) {
        request_->checked = std::move(check);
        return;
    }
    EngineDiagnostics::Instance().OpenStep("file-checked");
    if (!check.Unreadable && surface_ && !PrepareSurface())
        check.Unreadable = QStringLiteral("No OpenGL video output is available for the picture.");
    if (check.Unreadable)
        return EndOpen(Fail(*check.Unreadable));
    request_->head = check.Head;
    Drain();
    loading_.emplace();
    timePos_ = 0;
    duration_ = 0;
    displayWidth_ = 0;
    displayHeight_ = 0;
    eofReached_ = false;
    pendingPosition_.reset();
    seekLanded_ = false;
    source_ = {};
    SetPaused(true);
    stopped_ = true;
    ChooseSoundOutput();
    // The path goes as one argument, byte for byte: never through a command string.
    // Sent without waiting: the engine may be busy with the last file's sound.
    const char* command[] = {"loadfile", request_->path.constData(), "replace", nullptr};
    if (mpv_command_async(core_.get(), SizeReplyTag(LoadReply), command) < 0)
        EndOpen(Fail(OpenFailure::DamagedText()));
}

void MpvMediaService::AdvanceOpen() {
    if (!request_)
        return;
    OpenRequest& request = *request_;
    const qint64 now = request.clock.elapsed();
    if (!loading_) {
        if (now >= kOpenTimeoutMs)
            EndOpen(Fail(OpenFailure::TooLongText()));
        return;
    }
    const LoadState& state = *loading_;
    if (state.failed) {
        // The engine's words for the failure may come after it: all are in once
        // it is idle.
        if (state.idle || now >= kOpenTimeoutMs)
            EndOpen(Fail(
                OpenFailure::Classify({state.redirected, state.error, state.log}, request.head)));
        return;
    }
    if (state.tracksKnown && state.lengthKnown && (!state.hasVideo || state.videoConfigured)) {
        hasVideo_ = state.hasVideo;
        destination_ = source_;
        lastDevice_ = static_cast<MediaDeviceId>(lastDevice_ % 0xFFFF + 1);
        device_ = lastDevice_;
        EngineDiagnostics::Instance().OpenStep("opened");
        return EndOpen(MediaErrors::None);
    }
    // Playback ready without a picture: the video could not be decoded (a
    // damaged header), and no picture will come.
    if (state.playbackReady && request.readyAt < 0)
        request.readyAt = now;
    if (now >= kOpenTimeoutMs ||
        (request.readyAt >= 0 && now - request.readyAt > kPictureAfterReadyMs)) {
        // Loaded, but no picture came: the video cannot be decoded, unless the
        // engine never got ready to play without its sound output.
        if (state.loaded)
            return EndOpen(Fail(state.playbackReady || !soundSilenced_
                                    ? OpenFailure::DamagedText()
                                    : OpenFailure::NoSoundText()));
        // No answer to the load at all: the engine is held by the sound device.
        return EndOpen(Fail(state.entryId < 0 && soundSilenced_ ? OpenFailure::NoSoundText()
                                                                : OpenFailure::TooLongText()));
    }
}

void MpvMediaService::EndOpen(MediaError result) {
    openSteps_.stop();
    checks_.Supersede();
    const OpenDone done = std::move(request_->done);
    request_.reset();
    loading_.reset();
    if (result != MediaErrors::None)
        SendStop();
    // Last: what it runs may begin another open.
    if (done)
        done(result, result == MediaErrors::None ? device_ : 0);
}

void MpvMediaService::AbandonOpen() {
    if (!request_)
        return;
    request_->done = nullptr;
    EndOpen(MediaErrors::CannotOpen);
}

MediaError MpvMediaService::Close(MediaDeviceId device) {
    if (!Valid(device))
        return MediaErrors::InvalidDevice;
    Notify(MediaNotify::Aborted);
    // Not stopped at once: an open that follows replaces the file and keeps the
    // sound output open, which spares the new file seconds of silence at its start.
    SetPaused(true);
    stopDue_ = true;
    QMetaObject::invokeMethod(
        &pump_,
        [this] {
            if (stopDue_)
                SendStop();
        },
        Qt::QueuedConnection);
    device_ = 0;
    hasVideo_ = false;
    stopped_ = true;
    SeekDone();
    if (surface_ && display_) {
        surface_->SetBlank(true);
        surface_->hide();
        surface_->setGeometry(display_->rect());
    }
    return MediaErrors::None;
}

void MpvMediaService::SetPaused(bool paused) {
    int flag = paused ? 1 : 0;
    mpv_set_property_async(core_.get(), 0, kPause, MPV_FORMAT_FLAG, &flag);
    paused_ = paused;
}

void MpvMediaService::Seek(int ms) {
    Drain(); // what the engine said before the seek is settled now
    const QByteArray seconds = QByteArray::number(double(ms) / 1000.0, 'f', 3);
    const char* command[] = {"seek", seconds.constData(), "absolute", nullptr};
    // A seek the engine refuses is answered by a reply, which drops the pending point.
    if (mpv_command_async(core_.get(), ++lastSeek_, command) >= 0) {
        pendingPosition_ = std::clamp(ms, 0, LengthMs());
        seekLanded_ = false;
        eofReached_ = false;
    }
}

void MpvMediaService::Notify(MediaNotify kind) {
    if (!playNoticePending_)
        return;
    playNoticePending_ = false;
    if (notify_)
        notify_(device_, kind);
}

MediaError MpvMediaService::Play(MediaDeviceId device, std::optional<int> from) {
    if (!Valid(device))
        return MediaErrors::InvalidDevice;
    Notify(MediaNotify::Superseded);
    if (from)
        Seek(*from);
    stopped_ = false;
    SetPaused(false);
    playNoticePending_ = true;
    if (surface_)
        surface_->SetBlank(false);
    EngineDiagnostics::Instance().OpenStep("play");
    EngineDiagnostics::Instance().PlayStarted(from ? *from / 1000.0 : timePos_);
    return MediaErrors::None;
}

MediaError MpvMediaService::SeekToStart(MediaDeviceId device) {
    if (!Valid(device))
        return MediaErrors::InvalidDevice;
    Notify(MediaNotify::Aborted);
    SetPaused(true);
    stopped_ = true;
    Seek(0);
    return MediaErrors::None;
}

MediaError MpvMediaService::Stop(MediaDeviceId device) {
    if (!Valid(device))
        return MediaErrors::InvalidDevice;
    Notify(MediaNotify::Aborted);
    SetPaused(true);
    stopped_ = true;
    return MediaErrors::None;
}

MediaError MpvMediaService::Pause(MediaDeviceId device) {
    if (!Valid(device))
        return MediaErrors::InvalidDevice;
    SetPaused(true);
    return MediaErrors::None;
}

MediaError MpvMediaService::Resume(MediaDeviceId device) {
    if (!Valid(device))
        return MediaErrors::InvalidDevice;
    if (stopped_ || eofReached_ || !paused_)
        return MediaErrors::Unsupported;
    SetPaused(false);
    return MediaErrors::None;
}

int MpvMediaService::LengthMs() const {
    return static_cast<int>(std::llround(std::max(0.0, duration_) * 1000.0));
}

MediaError MpvMediaService::Status(MediaDeviceId device, MediaStatusItem item, int* value) {
    if (!Valid(device))
        return MediaErrors::InvalidDevice;
    const int length = LengthMs();
    const bool atEnd = eofReached_ && !pendingPosition_;
    switch (item) {
    case MediaStatusItem::Length:
        *value = length;
        break;
    case MediaStatusItem::Position:
        if (pendingPosition_)
            *value = *pendingPosition_;
        else if (atEnd)
            *value = length; // the engine's clock may stand a little past the end
        else
            *value = std::clamp(static_cast<int>(std::llround(timePos_ * 1000.0)), 0, length);
        break;
    case MediaStatusItem::Mode:
        if (stopped_ || atEnd)
            *value = MediaServiceMode::Stopped;
        else
            *value = paused_ ? MediaServiceMode::Paused : MediaServiceMode::Playing;
        break;
    }
    return MediaErrors::None;
}

MediaError MpvMediaService::HasVideo(MediaDeviceId device, bool* hasVideo) {
    if (!Valid(device))
        return MediaErrors::InvalidDevice;
    *hasVideo = hasVideo_;
    return MediaErrors::None;
}

MediaError MpvMediaService::SetTimeFormat(MediaDeviceId device, int format) {
    if (!Valid(device))
        return MediaErrors::InvalidDevice;
    return format == kTimeFormatMilliseconds ? MediaErrors::None : MediaErrors::Unsupported;
}

QString MpvMediaService::ErrorText(MediaError error) {
    switch (error) {
    case MediaErrors::CannotOpen:
        return lastError_;
    case MediaErrors::InvalidDevice:
        return QStringLiteral("The media device is not open.");
    case MediaErrors::Unsupported:
        return QStringLiteral("The media device cannot do that.");
    case MediaErrors::NoPicture:
        return QStringLiteral("The media has no picture.");
    default:
        return {};
    }
}
