// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/MpvMediaService.h"

#include "platform/EngineDiagnostics.h"
#include "platform/KeptConnections.h"
#include "platform/OpenWait.h"

#include "platform/MpvVideoWidget.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <mpv/client.h>
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

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
enum SizeReply : int { SizeReplyWidth = 1, SizeReplyHeight, LoadReply, TracksReply, LengthReply };

// The engine's sound output: the sound server that the volume is set on too
// (ALSA's own fallback would print on standard error); a server that is there
// but does not answer gets none.
const char* const kSoundOutputs = "pulse";
const char* const kNoSoundOutput = "null";

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
    {"ao", kSoundOutputs},
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
    // Frames are handed over at their time instead of the render call waiting
    // for it on the window's thread, which would stall the window up to 50 ms a frame.
    {"video-timing-offset", "0"},
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

// Why the file cannot be read by the engine, or nothing when it can. Only a
// regular file is handed over: a pipe or a device could block the engine for good.
std::optional<QString> UnreadableReason(const QByteArray& path, bool* folder, QByteArray* head) {
    FileDescriptor file{::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
    if (file.fd < 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    struct stat info {};
    if (::fstat(file.fd, &info) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    if (S_ISDIR(info.st_mode)) {
        *folder = true;
        return QString();
    }
    if (!S_ISREG(info.st_mode))
        return QStringLiteral("it is a pipe or a device, not a file");
    head->resize(4096);
    const ssize_t got = ::pread(file.fd, head->data(), static_cast<std::size_t>(head->size()), 0);
    if (got < 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    head->resize(got);
    return std::nullopt;
}

// A list of other files or addresses: a playlist, a manifest, a reference or
// session description, or a concat list.
bool RefersToOthers(const QByteArray& head) {
    const QByteArray text = head.trimmed().toLower();
    for (const char* start : {"#extm3u", "[playlist]", "ffconcat", "<asx", "[reference]", "<?xml",
                              "<smil", "v=0", "file "})
        if (text.startsWith(start))
            return true;
    return text.contains("://") && !text.contains('\0');
}

// Begins as a container the engine knows, so it is one, damaged.
bool KnownContainer(const QByteArray& head) {
    const auto at = [&](qsizetype offset, const char* bytes, qsizetype size) {
        return head.size() >= offset + size &&
               std::memcmp(head.constData() + offset, bytes, size) == 0;
    };
    return at(0, "\x30\x26\xB2\x75\x8E\x66\xCF\x11", 8) || // ASF
           at(0, "\x00\x00\x01\xBA", 4) ||                 // MPEG program stream
           at(0, "\x00\x00\x01\xB3", 4) ||                 // MPEG video
           (at(0, "\x47", 1) && at(188, "\x47", 1)) ||     // MPEG transport stream
           at(0, "RIFF", 4) || at(4, "ftyp", 4) || at(0, "\x1A\x45\xDF\xA3", 4) ||
           at(0, "OggS", 4) || at(0, "FLV", 3);
}

// Lets the window repaint while an open waits, and lets it close, but keeps the
// user's commands and the timers out: any of them would act on a half-open
// device. Keys and the desktop's commands run after the open, clicks not at all.
class WaitGuard : public QObject {
public:
    explicit WaitGuard(QWidget* display) : window_(display ? display->window() : nullptr) {
        shown_ = window_ && window_->isVisible();
        if (QCoreApplication::instance())
            QCoreApplication::instance()->installEventFilter(this);
    }
    ~WaitGuard() override {
        if (QCoreApplication::instance())
            QCoreApplication::instance()->removeEventFilter(this);
    }
    // The window closed during the wait: the program is ending.
    bool WindowClosed() const { return shown_ && (!window_ || !window_->isVisible()); }

protected:
    bool eventFilter(QObject* target, QEvent* event) override {
        switch (event->type()) {
        case QEvent::Timer:
            // The window's own repaint runs on a timer; every other timer (the
            // tick among them) waits until the open is over.
            return !qobject_cast<QWindow*>(target);
        case QEvent::Shortcut:
            // The Quit command only closes the window, which is safe here.
            return !(qobject_cast<QAction*>(target) &&
                     target->objectName() == QLatin1String("Action6"));
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TabletPress:
        case QEvent::TabletRelease:
            return true;
        default:
            return false;
        }
    }

private:
    // Keys and the desktop's commands wait through this scope; the pointer's
    // input is dropped.
    OpenWait::Scope commandsWait_;
    QPointer<QWidget> window_;
    bool shown_ = false;
};

enum class SoundServer { Answers, Missing, Silent };

} // namespace

// A sound server asked for its hand and, where playing is in doubt, for a corked
// playback stream. A server that answers but never makes the stream ready (a
// PipeWire without its session manager links no stream to a device) cannot
// play: the engine's sound output would wait half a minute on it before the
// picture. The stream is asked for only then: a stream at every open would
// flash in the mixer and cost the open a few milliseconds.
class SoundProbe {
public:
    enum class State { Pending, Ready, Failed };

    explicit SoundProbe(bool askForStream) : loop_(pa_mainloop_new()), askForStream_(askForStream) {
        if (!loop_)
            return;
        // Kept from the cuts of the engine's connections: a pending stream tells
        // at the next open, without a wait, whether the server can play by then.
        KeepConnections(pa_mainloop_get_api(loop_));
        context_ = pa_context_new(pa_mainloop_get_api(loop_), "Qel");
        failed_ =
            !context_ || pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0;
    }
    ~SoundProbe() {
        if (stream_) {
            pa_stream_disconnect(stream_);
            pa_stream_unref(stream_);
        }
        if (context_) {
            pa_context_disconnect(context_);
            pa_context_unref(context_);
        }
        if (loop_) {
            ForgetConnections(pa_mainloop_get_api(loop_));
            pa_mainloop_free(loop_);
        }
    }
    SoundProbe(const SoundProbe&) = delete;
    SoundProbe& operator=(const SoundProbe&) = delete;

    // The server has given its hand.
    bool Answered() const { return answered_; }
    QByteArray Server() const {
        const char* server = context_ ? pa_context_get_server(context_) : nullptr;
        return server ? QByteArray(server) : QByteArray();
    }
    // Takes in what the server said, waiting for it up to waitUs.
    State Step(int waitUs) {
        if (failed_)
            return State::Failed;
        failed_ = pa_mainloop_prepare(loop_, waitUs) < 0 || pa_mainloop_poll(loop_) < 0 ||
                  pa_mainloop_dispatch(loop_) < 0;
        const pa_context_state_t state = pa_context_get_state(context_);
        failed_ = failed_ || !PA_CONTEXT_IS_GOOD(state);
        if (state != PA_CONTEXT_READY)
            return failed_ ? State::Failed : State::Pending;
        answered_ = true;
        if (!askForStream_)
            return State::Ready;
        // The library gives up on a stream after half a minute; a new one keeps
        // the question open without a wait.
        if (stream_ && pa_stream_get_state(stream_) == PA_STREAM_FAILED &&
            pa_context_errno(context_) == PA_ERR_TIMEOUT) {
            pa_stream_unref(stream_);
            stream_ = nullptr;
        }
        if (!stream_) {
            const pa_sample_spec spec{PA_SAMPLE_S16LE, 44100, 2};
            stream_ = pa_stream_new(context_, "Qel", &spec, nullptr);
            failed_ = !stream_ ||
                      pa_stream_connect_playback(stream_, nullptr, nullptr, PA_STREAM_START_CORKED,
                                                 nullptr, nullptr) < 0;
            return failed_ ? State::Failed : State::Pending;
        }
        const pa_stream_state_t stream = pa_stream_get_state(stream_);
        failed_ = !PA_STREAM_IS_GOOD(stream);
        return stream == PA_STREAM_READY ? State::Ready : failed_ ? State::Failed : State::Pending;
    }

private:
    pa_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    bool askForStream_;
    bool failed_ = true;
    bool answered_ = false;
};

namespace {

// Asks the sound server for its hand, and a stream if asked for, within the
// time, keeping the wait's steps going meanwhile. serverPath: the socket of a
// server that did not answer or cannot play; unplayable: the probe of a server
// that answered but could not play, kept to be asked again.
SoundServer ProbeSoundServer(int timeoutMs, const std::function<bool()>& step,
                             QByteArray* serverPath, bool askForStream,
                             std::unique_ptr<SoundProbe>* unplayable = nullptr) {
    auto probe = std::make_unique<SoundProbe>(askForStream);
    QElapsedTimer clock;
    clock.start();
    qint64 lastStep = 0;
    SoundProbe::State state = SoundProbe::State::Pending;
    // Short blocking polls: an answering server is ready in a few of them,
    // about 2 ms, where a step of the wait between each took 15.
    while ((state = probe->Step(1000)) == SoundProbe::State::Pending) {
        if (clock.elapsed() > timeoutMs)
            break;
        if (clock.elapsed() - lastStep >= 10) {
            lastStep = clock.elapsed();
            if (!step())
                break;
        }
    }
    // A stream the server refuses at once costs the engine no wait either.
    if (state != SoundProbe::State::Pending)
        return probe->Answered() ? SoundServer::Answers : SoundServer::Missing;
    *serverPath = probe->Server();
    if (probe->Answered() && unplayable)
        *unplayable = std::move(probe);
    probe.reset();
    if (serverPath->startsWith("unix:"))
        serverPath->remove(0, 5);
    if (serverPath->isEmpty()) {
        const QByteArray named = qgetenv("PULSE_SERVER");
        *serverPath = named.startsWith("unix:") ? named.mid(5)
                      : named.startsWith('/')   ? named
                                                : qgetenv("XDG_RUNTIME_DIR") + "/pulse/native";
    }
    return SoundServer::Silent;
}

// Ends this process's connections to a sound server that does not answer: the
// engine's own waits on it, half a minute each, then end at once.
void CutConnectionsTo(const QByteArray& socketPath) {
    if (socketPath.isEmpty())
        return;
    const QStringList entries =
        QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System);
    for (const QString& entry : entries) {
        bool number = false;
        const int fd = entry.toInt(&number);
        if (!number)
            continue;
        sockaddr_un address{};
        socklen_t length = sizeof address;
        if (::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
            address.sun_family != AF_UNIX || length <= offsetof(sockaddr_un, sun_path))
            continue;
        const QByteArray peer(address.sun_path,
                              static_cast<qsizetype>(::strnlen(
                                  address.sun_path, length - offsetof(sockaddr_un, sun_path))));
        if (peer == socketPath && !IsKeptConnection(fd))
            ::shutdown(fd, SHUT_RDWR);
    }
}

} // namespace

QString MpvMediaService::NotMediaText() {
    return QStringLiteral("The file is not a media file that this player knows.");
}
QString MpvMediaService::DamagedText() {
    return QStringLiteral("The file is damaged and cannot be played.");
}
QString MpvMediaService::UnreadableText(const QString& reason) {
    return QStringLiteral("The file could not be read: %1.").arg(reason);
}
QString MpvMediaService::TooLongText() {
    return QStringLiteral("The file took too long to open.");
}
QString MpvMediaService::NoSoundText() {
    return QStringLiteral("The sound device did not answer.");
}
QString MpvMediaService::ReferencesText() {
    return QStringLiteral(
        "The file refers to other files or addresses, and this player plays only media files.");
}

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

MpvMediaService::MpvMediaService() = default;

MpvMediaService::~MpvMediaService() {
    EngineDiagnostics::Instance().Exit(voDropped_, decoderDropped_);
    if (!core_)
        return;
    // Callbacks first, then the render context, then the core.
    mpv_set_wakeup_callback(core_.get(), nullptr, nullptr);
    CutSilentServer();
    // A core held by a file on a share that does not answer, or by a sound
    // server that does not, never shuts down: it is left to the end of the process.
    if (!EngineShutDown(kEngineAnswerAtExitMs)) {
        if (surface_)
            surface_->setParent(nullptr);
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
                &service->pump_, [service] { service->Drain(); }, Qt::QueuedConnection);
        },
        this);
    return true;
}

void MpvMediaService::PrepareDisplayWindow(QWidget* window) {
    if (!window || (display_ == window && surface_))
        return;
    display_ = window;
    // Hidden while nothing plays: it stacks above the window's other children.
    surface_ = new MpvVideoWidget(window);
    surface_->setGeometry(window->rect());
    surface_->hide();
    // The engine and the GL set-up once the window is up: neither the start nor
    // the first Play waits for them.
    QTimer::singleShot(0, surface_, [this] { PrepareSurface(); });
}

bool MpvMediaService::PrepareSurface() {
    if (!surface_ || !CreateCore())
        return false;
    surface_->SetCore(core_.get());
    return surface_->Ready();
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
        if (opening_) {
            const auto* message = static_cast<const mpv_event_log_message*>(event.data);
            const QString text = QString::fromUtf8(message->text).trimmed();
            if (!text.isEmpty() && !opening_->log.contains(text))
                opening_->log << text;
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
        if (opening_) {
            opening_->loaded = true;
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
        if (opening_) {
            mpv_get_property_async(core_.get(), SizeReplyTag(SizeReplyWidth), kDisplayWidth,
                                   MPV_FORMAT_INT64);
            mpv_get_property_async(core_.get(), SizeReplyTag(SizeReplyHeight), kDisplayHeight,
                                   MPV_FORMAT_INT64);
        }
        break;
    case MPV_EVENT_GET_PROPERTY_REPLY: {
        const auto* property = static_cast<const mpv_event_property*>(event.data);
        if (opening_ && event.reply_userdata == SizeReplyTag(TracksReply)) {
            opening_->tracksKnown = true;
            opening_->hasVideo = event.error >= 0 && property->format == MPV_FORMAT_NODE &&
                                 HasVideoTrack(*static_cast<const mpv_node*>(property->data));
            break;
        }
        if (opening_ && event.reply_userdata == SizeReplyTag(LengthReply)) {
            opening_->lengthKnown = true;
            if (event.error >= 0 && property->format == MPV_FORMAT_DOUBLE && duration_ <= 0)
                duration_ = *static_cast<double*>(property->data);
            break;
        }
        const bool present =
            event.error >= 0 && property->format == MPV_FORMAT_INT64 && property->data;
        const bool width = event.reply_userdata == SizeReplyTag(SizeReplyWidth);
        if (!opening_ || !present ||
            (!width && event.reply_userdata != SizeReplyTag(SizeReplyHeight)))
            break;
        (width ? displayWidth_ : displayHeight_) = *static_cast<std::int64_t*>(property->data);
        if (displayWidth_ > 0 && displayHeight_ > 0) {
            source_ = {0, 0, static_cast<int>(displayWidth_), static_cast<int>(displayHeight_)};
            opening_->videoConfigured = true;
        }
        break;
    }
    case MPV_EVENT_COMMAND_REPLY:
        if (opening_ && event.reply_userdata == SizeReplyTag(LoadReply)) {
            const auto* result = static_cast<const mpv_event_command*>(event.data);
            if (event.error < 0) {
                opening_->failed = true;
                opening_->error = event.error;
            } else if (const mpv_node* id = MapValue(result->result, "playlist_entry_id");
                       id && id->format == MPV_FORMAT_INT64) {
                opening_->entryId = id->u.int64;
            }
            break;
        }
        if (event.reply_userdata != 0 && event.reply_userdata == lastSeek_ && event.error < 0 &&
            pendingPosition_)
            SeekDone();
        break;
    case MPV_EVENT_PLAYBACK_RESTART:
        EngineDiagnostics::Instance().OpenStep("playback-ready");
        if (opening_)
            opening_->playbackReady = true;
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
        if (opening_ && opening_->entryId >= 0 && end->playlist_entry_id == opening_->entryId &&
            (end->reason == MPV_END_FILE_REASON_ERROR ||
             end->reason == MPV_END_FILE_REASON_REDIRECT)) {
            opening_->failed = true;
            opening_->redirected = end->reason == MPV_END_FILE_REASON_REDIRECT;
            opening_->error = end->error;
        }
        break;
    }
    case MPV_EVENT_IDLE:
        if (opening_ && opening_->failed)
            opening_->idle = true;
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

bool MpvMediaService::WaitStep(double seconds) {
    if (surface_)
        surface_->ServiceEngine();
    Handle(*mpv_wait_event(core_.get(), seconds));
    QCoreApplication::processEvents();
    return !waitAborted_;
}

void MpvMediaService::SendStop() {
    stopDue_ = false;
    const char* stop[] = {"stop", nullptr};
    mpv_command_async(core_.get(), 0, stop);
}

void MpvMediaService::ChooseSoundOutput() {
    QByteArray server;
    SoundServer answer = SoundServer::Silent;
    // A server that could not play at the last open is asked again without a
    // wait: its stream is still pending, or ready now.
    const SoundProbe::State last = unplayable_ ? unplayable_->Step(0) : SoundProbe::State::Failed;
    if (last == SoundProbe::State::Pending) {
        server = silentServer_;
    } else if (last == SoundProbe::State::Ready) {
        answer = SoundServer::Answers;
    } else {
        unplayable_.reset();
        // Whether the server can play is asked at the first open; later, only
        // when an open stands still.
        answer = ProbeSoundServer(
            kSoundServerAnswerMs, [this] { return WaitStep(0.002); }, &server, !playingChecked_,
            &unplayable_);
        if (waitAborted_)
            return;
        playingChecked_ = playingChecked_ || answer == SoundServer::Answers;
    }
    if (answer != SoundServer::Silent)
        unplayable_.reset();
    UseSoundOutput(answer == SoundServer::Silent, server);
}

void MpvMediaService::UseSoundOutput(bool silent, const QByteArray& server) {
    if (silent != soundSilenced_) {
        mpv_set_property_async(core_.get(), 0, "ao", MPV_FORMAT_STRING,
                               const_cast<char**>(silent ? &kNoSoundOutput : &kSoundOutputs));
        soundSilenced_ = silent;
    }
    silentServer_ = silent ? server : QByteArray();
    CutSilentServer();
}

void MpvMediaService::CutSilentServer() {
    // The engine may be stuck on the server, or connect to it again before it
    // takes the silent output: each cut ends its wait at once.
    if (!silentServer_.isEmpty())
        CutConnectionsTo(silentServer_);
}

QString MpvMediaService::Classify(const OpenState& state, const QByteArray& head) {
    if (state.redirected || RefersToOthers(head))
        return ReferencesText();
    for (const QString& line : state.log) {
        if (line.contains(QLatin1String("whitelist")) ||
            line.contains(QLatin1String("access-references")) ||
            line.contains(QLatin1String("Not opening")))
            return ReferencesText();
    }
    if (state.error == MPV_ERROR_UNKNOWN_FORMAT && !KnownContainer(head))
        return NotMediaText();
    return DamagedText();
}

MediaError MpvMediaService::Open(const QByteArray& path, MediaDeviceId* device) {
    EngineDiagnostics::Instance().OpenStarted();
    if (!CreateCore())
        return Fail(coreError_);
    if (device_ != 0)
        Close(device_);
    // The file closed last is replaced by this one, or stopped on any failure.
    stopDue_ = false;
    const auto failed = [this](const QString& text) {
        SendStop();
        return Fail(text);
    };
    bool folder = false;
    QByteArray head;
    if (const auto reason = UnreadableReason(path, &folder, &head)) {
        return failed(folder ? QStringLiteral("This is a folder, not a media file.")
                             : UnreadableText(*reason));
    }
    if (surface_ && !PrepareSurface())
        return failed(QStringLiteral("No OpenGL video output is available for the picture."));

    WaitGuard guard(display_);
    waitAborted_ = false;
    // Closing the window during the wait ends the wait: the program is ending.
    const auto closed = [&] {
        if (guard.WindowClosed()) {
            waitAborted_ = true;
            if (QCoreApplication::instance())
                QCoreApplication::instance()->setProperty("qelEnding", true);
        }
        return waitAborted_;
    };

    Drain();
    ++opens_;
    opening_.emplace();
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
    EngineDiagnostics::Instance().OpenStep("sound-checked");
    // The path goes as one argument, byte for byte: never through a command string.
    // Sent without waiting: the engine may be busy with the last file's sound.
    const char* command[] = {"loadfile", path.constData(), "replace", nullptr};
    if (const int error = mpv_command_async(core_.get(), SizeReplyTag(LoadReply), command);
        error < 0) {
        opening_.reset();
        return failed(DamagedText());
    }

    QElapsedTimer clock;
    clock.start();
    const auto opened = [](const OpenState& state) {
        return state.tracksKnown && state.lengthKnown && (!state.hasVideo || state.videoConfigured);
    };
    qint64 readyAt = -1;
    qint64 loadedAt = -1;
    bool soundAsked = false;
    bool soundCut = false;
    qint64 lastCut = 0;
    while (!opening_->failed && clock.elapsed() < kOpenTimeoutMs && !closed()) {
        if (opened(*opening_))
            break;
        if (opening_->loaded && loadedAt < 0)
            loadedAt = clock.elapsed();
        // Loaded, and neither a picture nor readiness to play: the engine may be
        // held by a sound server that took the stream and cannot play it.
        if (loadedAt >= 0 && !opening_->playbackReady && !soundSilenced_ && !soundAsked &&
            clock.elapsed() - loadedAt > kPictureAfterReadyMs) {
            soundAsked = true;
            QByteArray server;
            if (ProbeSoundServer(
                    kSoundServerAnswerMs, [this] { return WaitStep(0.002); }, &server, true,
                    &unplayable_) == SoundServer::Silent) {
                // Cut off, the engine falls back to no sound output by itself; the
                // output is changed at the next open (a change now stalls this file).
                silentServer_ = server;
                CutSilentServer();
                soundCut = true;
            }
            continue;
        }
        // Playback ready without a picture: the video could not be decoded (a
        // damaged header), and no picture will come.
        if (opening_->playbackReady && readyAt < 0)
            readyAt = clock.elapsed();
        if (readyAt >= 0 && clock.elapsed() - readyAt > kPictureAfterReadyMs)
            break;
        if (!opening_->loaded && clock.elapsed() - lastCut > 100) {
            CutSilentServer();
            lastCut = clock.elapsed();
        }
        // Short waits: the video output waits for the render side in between.
        WaitStep(surface_ ? 0.005 : 0.05);
    }
    if (opening_->failed) {
        // The engine's words for the failure may come after it: all are in once
        // it is idle.
        while (!opening_->idle && clock.elapsed() < kOpenTimeoutMs && !closed())
            WaitStep(0.01);
        for (const mpv_event* event = mpv_wait_event(core_.get(), 0);
             event->event_id != MPV_EVENT_NONE; event = mpv_wait_event(core_.get(), 0))
            Handle(*event);
    }
    const OpenState state = *opening_;
    opening_.reset();
    if (!opened(state)) {
        if (waitAborted_)
            return failed(QStringLiteral("The program is ending."));
        if (state.failed)
            return failed(Classify(state, head));
        // Loaded, but no picture came: the video cannot be decoded, unless the
        // engine never got ready to play while its sound output was cut off.
        if (state.loaded)
            return failed(state.playbackReady || !(soundSilenced_ || soundCut) ? DamagedText()
                                                                               : NoSoundText());
        // No answer to the load at all: the engine is held by the sound device.
        return failed(state.entryId < 0 && soundSilenced_ ? NoSoundText() : TooLongText());
    }

    hasVideo_ = state.hasVideo;
    destination_ = source_;
    lastDevice_ = static_cast<MediaDeviceId>(lastDevice_ % 0xFFFF + 1);
    device_ = lastDevice_;
    *device = device_;
    EngineDiagnostics::Instance().OpenStep("opened");
    return MediaErrors::None;
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
