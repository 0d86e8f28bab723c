// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

// A sound server of the test's own, with one null sink "qeltest" as its default:
// PulseAudio, or PipeWire with its pulse server when QEL_TEST_SOUND_SERVER is
// "pipewire" or when asked for.
class PrivateSoundServer {
public:
    enum class Kind { AsTheSuiteRuns, PipeWire };
    explicit PrivateSoundServer(const QString& sinkOptions = {}, Kind kind = Kind::AsTheSuiteRuns)
        : pipeWire_(kind == Kind::PipeWire || PipeWire()) {
        runtime_.setAutoRemove(true);
        socket_ = runtime_.filePath(QStringLiteral("native"));
        Start(sinkOptions);
    }
    ~PrivateSoundServer() { Kill(); }

    static bool PipeWire() { return qgetenv("QEL_TEST_SOUND_SERVER") == "pipewire"; }
    bool Running() const { return process_.state() == QProcess::Running && ready_; }
    std::string Address() const { return "unix:" + socket_.toStdString(); }

    void Kill() {
        if (process_.state() != QProcess::NotRunning) {
            Signal(SIGCONT);
            process_.kill();
            process_.waitForFinished(5000);
        }
        ready_ = false;
    }
    // SIGSTOP: a server that hangs, its socket still there; SIGCONT brings it back.
    void Signal(int number) {
        if (process_.state() != QProcess::NotRunning)
            ::kill(static_cast<pid_t>(process_.processId()), number);
    }
    void Freeze() { Signal(SIGSTOP); }
    // From another thread, after a while: at a moment the test does not choose.
    std::thread FreezeAfter(std::chrono::milliseconds delay) {
        const auto pid = static_cast<pid_t>(process_.processId());
        return std::thread([pid, delay] {
            std::this_thread::sleep_for(delay);
            ::kill(pid, SIGSTOP);
        });
    }
    void Thaw() { Signal(SIGCONT); }
    void Start(const QString& sinkOptions = {}) {
        process_.setProcessEnvironment(Environment());
        process_.setProcessChannelMode(QProcess::MergedChannels);
        if (pipeWire_) {
            process_.start(QStringLiteral("pipewire"), {QStringLiteral("-c"), PipeWireConfig()});
        } else {
            process_.start(
                QStringLiteral("pulseaudio"),
                {QStringLiteral("-n"), QStringLiteral("--daemonize=no"),
                 QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--disable-shm"),
                 QStringLiteral("--load=module-null-sink sink_name=qeltest ") + sinkOptions,
                 QStringLiteral("--load=module-native-protocol-unix auth-anonymous=1 socket=") +
                     socket_});
        }
        process_.waitForStarted(5000);
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 10000 && process_.state() != QProcess::NotRunning) {
            if (Pactl({QStringLiteral("info")}).has_value()) {
                ready_ = !pipeWire_ || AddPipeWireSink(sinkOptions);
                if (ready_)
                    return;
                break;
            }
            QThread::msleep(50);
        }
        process_.waitForFinished(100);
        std::fprintf(stderr, "the test's sound server did not start:\n%s\n",
                     process_.readAll().constData());
    }

    // Also on TCP, on the loopback interface only: the address clients name it by.
    std::optional<std::string> ListenOnLoopback() {
        const int port = FreeLoopbackPort();
        if (port <= 0 ||
            !Pactl({QStringLiteral("load-module"), QStringLiteral("module-native-protocol-tcp"),
                    QStringLiteral("port=%1").arg(port), QStringLiteral("listen=127.0.0.1"),
                    QStringLiteral("auth-anonymous=1")}))
            return std::nullopt;
        return "tcp:127.0.0.1:" + std::to_string(port);
    }

    // Another null sink beside "qeltest"; options as module-null-sink takes them.
    bool AddSink(const QString& name, const QString& sinkOptions = {}) {
        QStringList load{QStringLiteral("load-module"), QStringLiteral("module-null-sink"),
                         QStringLiteral("sink_name=") + name};
        if (!sinkOptions.isEmpty())
            load << sinkOptions.split(' ', Qt::SkipEmptyParts);
        // PipeWire 1.4 keeps a volume set on a sink whose converter has never run
        // but does not announce it, so the server reads back the old one until
        // sound has played there. The sink is made to run, as the session manager
        // configures it on a desktop, so that it reports what it holds.
        if (pipeWire_)
            load << QStringLiteral("sink_properties=node.always-process=true");
        return Pactl(load).has_value() && (!pipeWire_ || ConfigurePipeWireSink(name, sinkOptions));
    }

    // As the user's desktop does it; on PipeWire the session manager's part too.
    bool SetDefaultSink(const QString& sink) {
        if (!Pactl({QStringLiteral("set-default-sink"), sink}))
            return false;
        return !pipeWire_ || SetPipeWireDefault(sink);
    }

    std::optional<QString> Pactl(const QStringList& arguments) const {
        QProcess pactl;
        pactl.start(QStringLiteral("pactl"),
                    QStringList{QStringLiteral("--server=unix:") + socket_} + arguments);
        if (!pactl.waitForFinished(5000) || pactl.exitCode() != 0)
            return std::nullopt;
        return QString::fromUtf8(pactl.readAllStandardOutput());
    }
    // The sink's raw channel volumes, as the server holds them.
    std::vector<unsigned> Channels(const QString& sink = QStringLiteral("qeltest")) const {
        const auto text = Pactl({QStringLiteral("get-sink-volume"), sink});
        std::vector<unsigned> values;
        if (!text)
            return values;
        const QString firstLine = text->section('\n', 0, 0);
        static const QRegularExpression raw(QStringLiteral(":\\s*(\\d+)\\s*/"));
        for (auto match = raw.globalMatch(firstLine); match.hasNext();)
            values.push_back(match.next().captured(1).toUInt());
        return values;
    }
    bool SetChannels(const QStringList& values, const QString& sink = QStringLiteral("qeltest")) {
        return Pactl(QStringList{QStringLiteral("set-sink-volume"), sink} + values).has_value();
    }

private:
    static int FreeLoopbackPort() {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        const bool bound = fd >= 0 &&
                           ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                           ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
        if (fd >= 0)
            ::close(fd);
        return bound ? ntohs(address.sin_port) : -1;
    }
    QProcessEnvironment Environment() const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_.path());
        environment.insert(QStringLiteral("HOME"), runtime_.path());
        environment.remove(QStringLiteral("PIPEWIRE_REMOTE"));
        // Off the test's session bus: a server there claims one well-known name, and
        // the next one started beside it (or right after it) refuses to run.
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                           QStringLiteral("unix:path=/nonexistent/qel-no-bus"));
        return environment;
    }
    // One process: the graph with a driver that needs no hardware, and the pulse
    // server. No session manager: the test sets the default sink itself.
    QString PipeWireConfig() const {
        const QString path = runtime_.filePath(QStringLiteral("pipewire.conf"));
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            file.write(QStringLiteral(R"(context.properties = {
    core.daemon = true
    core.name = pipewire-0
    support.dbus = false
    mem.allow-mlock = false
    log.level = 1
}
context.spa-libs = {
    audio.convert.* = audioconvert/libspa-audioconvert
    support.* = support/libspa-support
}
context.modules = [
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-access }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-spa-node-factory }
    { name = libpipewire-module-metadata }
    { name = libpipewire-module-protocol-pulse
      args = { server.address = [ "unix:%1" ] } }
]
context.objects = [
    { factory = spa-node-factory
      args = { factory.name = support.node.driver node.name = Dummy-Driver
               priority.driver = 8000 } }
    { factory = metadata args = { metadata.name = default } }
]
)")
                           .arg(socket_)
                           .toUtf8());
        }
        return path;
    }
    bool AddPipeWireSink(const QString& sinkOptions) {
        return AddSink(QStringLiteral("qeltest"), sinkOptions) &&
               SetPipeWireDefault(QStringLiteral("qeltest"));
    }
    // The session manager's part: the sink's input in its own channels.
    bool ConfigurePipeWireSink(const QString& name, const QString& sinkOptions) const {
        const bool mono = sinkOptions.split(' ').contains(QStringLiteral("channels=1"));
        QProcess cli;
        cli.setProcessEnvironment(Environment());
        cli.start(QStringLiteral("pw-cli"),
                  {QStringLiteral("set-param"), name, QStringLiteral("PortConfig"),
                   QStringLiteral("{ direction: Input, mode: dsp, format: { mediaType: audio, "
                                  "mediaSubtype: raw, format: F32P, rate: 48000, channels: %1, "
                                  "position: [ %2 ] } }")
                       .arg(mono ? 1 : 2)
                       .arg(mono ? QStringLiteral("MONO") : QStringLiteral("FL, FR"))});
        return cli.waitForFinished(5000) && cli.exitCode() == 0;
    }
    bool SetPipeWireDefault(const QString& sink) const {
        QProcess metadata;
        metadata.setProcessEnvironment(Environment());
        metadata.start(QStringLiteral("pw-metadata"),
                       {QStringLiteral("-n"), QStringLiteral("default"), QStringLiteral("0"),
                        QStringLiteral("default.audio.sink"),
                        QStringLiteral("{ \"name\": \"%1\" }").arg(sink),
                        QStringLiteral("Spa:String:JSON")});
        if (!metadata.waitForFinished(5000) || metadata.exitCode() != 0)
            return false;
        // The pulse server takes the new default in a moment.
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 3000) {
            const auto info = Pactl({QStringLiteral("get-default-sink")});
            if (info && info->trimmed() == sink)
                return true;
            QThread::msleep(20);
        }
        return false;
    }

    bool pipeWire_;
    QTemporaryDir runtime_{QDir::tempPath() + QStringLiteral("/qel-pulse-XXXXXX")};
    QString socket_;
    QProcess process_;
    bool ready_ = false;
};
