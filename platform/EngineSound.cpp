// SPDX-License-Identifier: GPL-3.0-or-later

// The engine's sound: whether the sound server answers and can play, the
// engine's sound output chosen from that, and the cut of a silent server's
// connections.

#include "platform/MpvMediaService.h"

#include "platform/KeptConnections.h"

#include <QDir>
#include <QElapsedTimer>

#include <mpv/client.h>
#include <pulse/pulseaudio.h>

#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>

namespace {
using SoundServer = MpvMediaService::SoundServer;
const char* const kSoundOutputs = MpvMediaService::kSoundOutputs;
const char* const kNoSoundOutput = "null";
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

MpvMediaService::SoundCheck MpvMediaService::CheckSoundServer(std::shared_ptr<SoundProbe> last,
                                                              const QByteArray& lastServer,
                                                              bool askForStream) {
    SoundCheck check;
    // A server that could not play at the last open is asked again without a
    // wait: its stream is still pending, or ready now.
    const SoundProbe::State state = last ? last->Step(0) : SoundProbe::State::Failed;
    if (state == SoundProbe::State::Pending) {
        check.Server = lastServer;
        check.Unplayable = std::move(last);
    } else if (state == SoundProbe::State::Ready) {
        check.Answer = SoundServer::Answers;
    } else {
        last.reset();
        std::unique_ptr<SoundProbe> unplayable;
        check.Answer = ProbeSoundServer(
            kSoundServerAnswerMs, [] { return true; }, &check.Server, askForStream, &unplayable);
        check.Unplayable = std::move(unplayable);
    }
    if (check.Answer != SoundServer::Silent)
        check.Unplayable.reset();
    return check;
}

void MpvMediaService::UseSoundCheck(SoundCheck check) {
    playingChecked_ = playingChecked_ || check.Answer == SoundServer::Answers;
    unplayable_ = std::move(check.Unplayable);
    UseSoundOutput(check.Answer == SoundServer::Silent, check.Server);
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
