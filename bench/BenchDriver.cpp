// SPDX-License-Identifier: GPL-3.0-or-later

// Measures the real qel window side by side with mpv, as a user would drive it:
// under the X server the bench command starts, with its sound server. Each
// measurement runs Qel and its reference in turn (A B A B ...), and the table
// gives medians with min-max. Usage:
//   qel_bench --media FOLDER --out FILE [--pairs N] [--seconds S] [--smoke]
//             [--only GROUP,...]   groups: playback, switch, quiet, startup, listing

#include "tests/E2eSupport.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <map>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>
#include <xcb/xcb.h>

extern char** environ;

namespace {

struct Options {
    QString media;
    QString out;
    int pairs = 5;
    double seconds = 20; // length of the benchmark clips
    double quietSeconds = 10;
    bool smoke = false;
    QStringList only; // groups of measurements: playback, quiet, startup, listing

    bool Wants(const char* group) const {
        return only.isEmpty() || only.contains(QLatin1String(group));
    }
};

double CpuSeconds(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // Fields after the command name, which may hold spaces, in parentheses.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    const double ticks = fields[11].toDouble() + fields[12].toDouble(); // utime, stime
    return ticks / double(::sysconf(_SC_CLK_TCK));
}

double PeakRssMb(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return -1;
}

// Sees windows being mapped, on one connection to the X server of its own:
// polling with a tool per try would open so many connections that the server
// starts refusing the very program being measured.
class MapWatcher {
public:
    MapWatcher() : connection_(xcb_connect(nullptr, nullptr)) {
        if (xcb_connection_has_error(connection_))
            return;
        root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &mask);
        const char name[] = "_NET_WM_PID";
        xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
            connection_, xcb_intern_atom(connection_, 0, sizeof name - 1, name), nullptr);
        if (atom) {
            pidAtom_ = atom->atom;
            std::free(atom);
        }
        xcb_flush(connection_);
    }
    ~MapWatcher() { xcb_disconnect(connection_); }
    MapWatcher(const MapWatcher&) = delete;
    MapWatcher& operator=(const MapWatcher&) = delete;

    // Milliseconds on the clock when a window of the process is mapped, or nothing.
    std::optional<double> WaitMapped(qint64 pid, const QElapsedTimer& since, int timeoutMs) {
        if (xcb_connection_has_error(connection_))
            return std::nullopt;
        pollfd watch{xcb_get_file_descriptor(connection_), POLLIN, 0};
        while (since.elapsed() < timeoutMs) {
            while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
                const bool mapped = (event->response_type & 0x7f) == XCB_MAP_NOTIFY;
                const xcb_window_t window =
                    mapped ? reinterpret_cast<xcb_map_notify_event_t*>(event)->window : 0;
                std::free(event);
                if (mapped && PidOf(window) == pid)
                    return double(since.nsecsElapsed()) / 1e6;
            }
            ::poll(&watch, 1, 5);
        }
        std::fprintf(stderr, "qel_bench: no window of process %lld was mapped\n", pid);
        return std::nullopt;
    }

private:
    qint64 PidOf(xcb_window_t window) {
        xcb_get_property_reply_t* reply = xcb_get_property_reply(
            connection_,
            xcb_get_property(connection_, 0, window, pidAtom_, XCB_ATOM_CARDINAL, 0, 1), nullptr);
        qint64 pid = -1;
        if (reply && xcb_get_property_value_length(reply) == 4)
            pid = *static_cast<uint32_t*>(xcb_get_property_value(reply));
        std::free(reply);
        return pid;
    }

    xcb_connection_t* connection_;
    xcb_window_t root_ = 0;
    xcb_atom_t pidAtom_ = XCB_ATOM_NONE;
};

QString WindowOf(qint64 pid) {
    const auto found = RunTool(QStringLiteral("xdotool"),
                               {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                QStringLiteral("--pid"), QString::number(pid)});
    return found ? QString::fromLatin1(found->trimmed().split('\n').first()) : QString();
}

void Sleep(double seconds) {
    QThread::msleep(static_cast<unsigned long>(seconds * 1000));
}

// The CPU seconds and peak memory of a command run to its end.
struct Rusage {
    double cpu = -1;
    double peakMb = -1;
};
Rusage RunForUsage(const QStringList& command) {
    std::vector<QByteArray> bytes;
    for (const QString& part : command)
        bytes.push_back(part.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& part : bytes)
        argv.push_back(part.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    Rusage result;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        rusage usage{};
        if (::wait4(pid, &status, 0, &usage) == pid) {
            result.cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
            result.peakMb = double(usage.ru_maxrss) / 1024.0;
        }
    }
    posix_spawn_file_actions_destroy(&actions);
    return result;
}

// One run of a player on one file: what the table needs from it.
struct PlayRun {
    double cpuPerMediaSecond = -1;
    double dropped = -1;
    double firstFrameMs = -1;
    double peakMb = -1;
};

// ----- Qel -----

class QelRun {
public:
    explicit QelRun(const QString& folder, const QString& pulseServer = {}) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QEL_DIAGNOSTICS"), QStringLiteral("1"));
        if (!pulseServer.isEmpty())
            environment.insert(QStringLiteral("PULSE_SERVER"), pulseServer);
        process_.setProcessEnvironment(environment);
        process_.setWorkingDirectory(folder);
        process_.setReadChannel(QProcess::StandardError); // where the diagnostics go
        MapWatcher watcher;
        clock_.start();
        process_.start(QStringLiteral(QEL_BINARY), {});
        process_.waitForStarted(5000);
        mappedMs_ = watcher.WaitMapped(process_.processId(), clock_, 10000);
        if (!mappedMs_) {
            process_.waitForFinished(100);
            std::fprintf(stderr, "qel_bench: qel state %d exit %d: %s\n", int(process_.state()),
                         process_.exitCode(),
                         process_.readAllStandardError().right(600).constData());
        }
        window_ = WindowOf(process_.processId());
        // Clicked once the picture path is chosen, as mpv's output is made before
        // its first file: the open's cost is measured, not the start's.
        if (mappedMs_)
            WaitFor("render-path", 5000);
    }
    ~QelRun() {
        if (process_.state() != QProcess::NotRunning) {
            process_.terminate();
            if (!process_.waitForFinished(5000)) {
                process_.kill();
                process_.waitForFinished(2000);
            }
        }
    }
    qint64 Pid() const { return process_.processId(); }
    std::optional<double> MappedMs() const { return mappedMs_; }

    // Double click on the first file of the list.
    bool PlayFirstFile() { return ClickFirstFile(2); }
    // Clicks on the first row of the file list.
    bool ClickFirstFile(int clicks = 1) {
        const auto shell = RunTool(QStringLiteral("xdotool"), {QStringLiteral("getwindowgeometry"),
                                                               QStringLiteral("--shell"), window_});
        if (!shell)
            return false;
        int x = 0, y = 0;
        for (const QByteArray& line : shell->split('\n')) {
            if (line.startsWith("X="))
                x = line.mid(2).toInt();
            if (line.startsWith("Y="))
                y = line.mid(2).toInt();
        }
        return RunTool(QStringLiteral("xdotool"),
                       {QStringLiteral("mousemove"), QString::number(x + 435),
                        QString::number(y + 110), QStringLiteral("click"),
                        QStringLiteral("--repeat"), QString::number(clicks),
                        QStringLiteral("--delay"), QStringLiteral("60"), QStringLiteral("1")})
            .has_value();
    }
    // Keys as typed: to the window with the input focus, given to this one first.
    bool Focus() {
        return RunTool(QStringLiteral("xdotool"),
                       {QStringLiteral("windowfocus"), QStringLiteral("--sync"), window_})
            .has_value();
    }
    bool Type(const QString& key) {
        return RunTool(QStringLiteral("xdotool"), {QStringLiteral("key"), key}).has_value();
    }
    bool Key(const QString& key) {
        return RunTool(QStringLiteral("xdotool"),
                       {QStringLiteral("key"), QStringLiteral("--window"), window_, key})
            .has_value();
    }
    // Waits for a diagnostics line starting with the event's name; returns its fields.
    std::optional<std::map<QString, double>> WaitFor(const QByteArray& event, int timeoutMs) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < timeoutMs) {
            pending_ += process_.readAllStandardError();
            int newline;
            while ((newline = pending_.indexOf('\n')) >= 0) {
                const QByteArray line = pending_.left(newline);
                pending_.remove(0, newline + 1);
                const QByteArray prefix = "qel-diagnostics: " + event;
                if (!line.startsWith(prefix))
                    continue;
                std::map<QString, double> fields;
                for (const QByteArray& part : line.mid(prefix.size()).trimmed().split(' ')) {
                    const int equals = part.indexOf('=');
                    if (equals > 0)
                        fields[QString::fromLatin1(part.left(equals))] =
                            part.mid(equals + 1).toDouble();
                }
                return fields;
            }
            process_.waitForReadyRead(20);
            if (process_.state() == QProcess::NotRunning)
                return std::nullopt;
        }
        return std::nullopt;
    }

private:
    QProcess process_;
    QElapsedTimer clock_;
    std::optional<double> mappedMs_;
    QString window_;
    QByteArray pending_;
};

// ----- mpv, through its JSON IPC -----

// How mpv draws: through software OpenGL, as Qel did before it had a software
// path, or straight to X11 with its own software scaler.
enum class MpvOutput { SoftwareOpenGL, X11 };

class MpvRun {
public:
    explicit MpvRun(MpvOutput output = MpvOutput::SoftwareOpenGL, const QStringList& extra = {}) {
        socketPath_ = dir_.filePath(QStringLiteral("ipc"));
        MapWatcher watcher;
        clock_.start();
        process_.setProcessChannelMode(QProcess::MergedChannels);
        const QStringList vo =
            output == MpvOutput::X11
                ? QStringList{QStringLiteral("--vo=x11")}
                : QStringList{QStringLiteral("--vo=gpu"), QStringLiteral("--gpu-api=opengl"),
                              QStringLiteral("--gpu-sw=yes")};
        process_.start(QStringLiteral("mpv"),
                       QStringList{QStringLiteral("--no-config"), QStringLiteral("--idle=yes"),
                                   QStringLiteral("--force-window=yes"),
                                   QStringLiteral("--geometry=400x300"),
                                   QStringLiteral("--no-keepaspect"), QStringLiteral("--ao=pulse"),
                                   QStringLiteral("--keep-open=yes"), QStringLiteral("--osc=no"),
                                   QStringLiteral("--really-quiet"),
                                   QStringLiteral("--input-ipc-server=") + socketPath_} +
                           vo + extra);
        process_.waitForStarted(5000);
        mappedMs_ = watcher.WaitMapped(process_.processId(), clock_, 10000);
        for (int attempt = 0; attempt < 200 && !socket_.isOpen(); ++attempt) {
            socket_.connectToServer(socketPath_);
            if (!socket_.waitForConnected(50))
                QThread::msleep(10);
        }
    }
    ~MpvRun() {
        Send({QStringLiteral("quit")});
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished(2000);
        }
    }
    qint64 Pid() const { return process_.processId(); }
    std::optional<double> MappedMs() const { return mappedMs_; }
    bool Connected() const { return socket_.state() == QLocalSocket::ConnectedState; }

    void Send(const QJsonArray& command, int requestId = 0) {
        QJsonObject message{{QStringLiteral("command"), command}};
        if (requestId)
            message.insert(QStringLiteral("request_id"), requestId);
        socket_.write(QJsonDocument(message).toJson(QJsonDocument::Compact) + '\n');
        socket_.flush();
    }
    // Waits for a message the test accepts; returns it.
    std::optional<QJsonObject> WaitFor(const std::function<bool(const QJsonObject&)>& wanted,
                                       int timeoutMs) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < timeoutMs) {
            while (socket_.canReadLine()) {
                const QJsonObject message = QJsonDocument::fromJson(socket_.readLine()).object();
                if (wanted(message))
                    return message;
            }
            socket_.waitForReadyRead(20);
        }
        return std::nullopt;
    }
    std::optional<QJsonObject> WaitForEvent(const QString& name, int timeoutMs) {
        return WaitFor(
            [&](const QJsonObject& m) { return m.value(QStringLiteral("event")) == name; },
            timeoutMs);
    }
    double Property(const QString& name) {
        static int nextId = 100;
        const int id = ++nextId;
        Send({QStringLiteral("get_property"), name}, id);
        const auto reply = WaitFor(
            [&](const QJsonObject& m) {
                return m.value(QStringLiteral("request_id")).toInt() == id;
            },
            3000);
        return reply ? reply->value(QStringLiteral("data")).toDouble(-1) : -1;
    }

private:
    QTemporaryDir dir_;
    QString socketPath_;
    QProcess process_;
    QLocalSocket socket_;
    QElapsedTimer clock_;
    std::optional<double> mappedMs_;
};

// ----- The measurements -----

PlayRun PlayQel(const QString& file, double seconds) {
    PlayRun run;
    QelRun qel(QFileInfo(file).absolutePath());
    if (!qel.MappedMs() || !qel.PlayFirstFile())
        return run;
    const auto first = qel.WaitFor("first-frame", 10000);
    if (!first)
        return run;
    const double cpu0 = CpuSeconds(qel.Pid());
    const auto end = qel.WaitFor("end-of-file", int(seconds * 1000) + 20000);
    if (!end)
        return run;
    run.cpuPerMediaSecond = (CpuSeconds(qel.Pid()) - cpu0) / seconds;
    run.dropped = end->at(QStringLiteral("dropped")) + end->at(QStringLiteral("decoder-dropped"));
    run.firstFrameMs = first->at(QStringLiteral("ms"));
    run.peakMb = PeakRssMb(qel.Pid());
    return run;
}

PlayRun PlayMpv(const QString& file, double seconds, MpvOutput output,
                const QStringList& extra = {}) {
    PlayRun run;
    MpvRun mpv(output, extra);
    if (!mpv.Connected())
        return run;
    mpv.Send({QStringLiteral("observe_property"), 1, QStringLiteral("eof-reached")});
    mpv.Send({QStringLiteral("loadfile"), QFileInfo(file).absoluteFilePath()});
    if (!mpv.WaitForEvent(QStringLiteral("start-file"), 5000))
        return run;
    QElapsedTimer sinceStart;
    sinceStart.start();
    if (!mpv.WaitForEvent(QStringLiteral("playback-restart"), 10000))
        return run;
    run.firstFrameMs = double(sinceStart.nsecsElapsed()) / 1e6;
    const double cpu0 = CpuSeconds(mpv.Pid());
    const auto eof = mpv.WaitFor(
        [](const QJsonObject& m) {
            return m.value(QStringLiteral("event")) == QStringLiteral("property-change") &&
                   m.value(QStringLiteral("name")) == QStringLiteral("eof-reached") &&
                   m.value(QStringLiteral("data")).toBool();
        },
        int(seconds * 1000) + 20000);
    if (!eof)
        return run;
    run.cpuPerMediaSecond = (CpuSeconds(mpv.Pid()) - cpu0) / seconds;
    run.dropped = mpv.Property(QStringLiteral("frame-drop-count")) +
                  mpv.Property(QStringLiteral("decoder-frame-drop-count"));
    run.peakMb = PeakRssMb(mpv.Pid());
    return run;
}

// The player's position from its media controls on the session bus, in µs.
std::optional<qint64> MprisPosition() {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.mpris.MediaPlayer2.qel"), QStringLiteral("/org/mpris/MediaPlayer2"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call << QStringLiteral("org.mpris.MediaPlayer2.Player") << QStringLiteral("Position");
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 500);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    return reply.arguments().first().value<QDBusVariant>().variant().toLongLong();
}

// Milliseconds from since's start to the new file's position moving: first a
// position well below the old file's, then a later one above it.
double WaitMoving(const QElapsedTimer& since, qint64 oldPosition, int timeoutMs) {
    std::optional<qint64> first;
    while (since.elapsed() < timeoutMs) {
        const auto now = MprisPosition();
        if (now && !first && *now < oldPosition / 2)
            first = now;
        else if (now && first && *now > *first)
            return double(since.nsecsElapsed()) / 1e6;
        QThread::msleep(4);
    }
    return -1;
}

// From a command to the next file's position moving (with the sound, which
// drives the engine's clock): on B, and at the end of a file in a selection.
struct SwitchRun {
    double onNextMs = -1;
    double atEndMs = -1;
};

SwitchRun SwitchQel(const QString& folder, const QString& pulseServer) {
    SwitchRun run;
    QelRun qel(folder, pulseServer);
    // All three files selected and played.
    if (!qel.MappedMs() || !qel.ClickFirstFile() || !qel.Focus() ||
        !qel.Type(QStringLiteral("shift+Down")) || !qel.Type(QStringLiteral("shift+Down")) ||
        !qel.Type(QStringLiteral("ctrl+alt+x")) || !qel.WaitFor("first-frame", 10000))
        return run;
    Sleep(1.5);
    const qint64 before = MprisPosition().value_or(-1);
    if (before <= 0)
        return run;
    QElapsedTimer clock;
    clock.start();
    // The key's own delivery (xdotool's start, a few ms) is counted in.
    if (!qel.Type(QStringLiteral("b")))
        return run;
    run.onNextMs = WaitMoving(clock, before, 10000);
    if (!qel.WaitFor("first-frame", 10000))
        return run;
    const auto end = qel.WaitFor("end-of-file", 20000);
    if (!end)
        return run;
    clock.restart();
    // The ended file's position, its length, or more: the next one starts below half of it.
    const qint64 ended = std::max<qint64>(MprisPosition().value_or(0), 2000000);
    run.atEndMs = WaitMoving(clock, ended, 10000);
    return run;
}

double PausedQel(const QString& file, double quiet) {
    QelRun qel(QFileInfo(file).absolutePath());
    if (!qel.MappedMs() || !qel.PlayFirstFile() || !qel.WaitFor("first-frame", 10000))
        return -1;
    Sleep(1);
    qel.Key(QStringLiteral("c"));
    Sleep(1);
    const double cpu0 = CpuSeconds(qel.Pid());
    Sleep(quiet);
    return (CpuSeconds(qel.Pid()) - cpu0) / quiet;
}

double PausedMpv(const QString& file, double quiet) {
    MpvRun mpv;
    if (!mpv.Connected())
        return -1;
    mpv.Send({QStringLiteral("loadfile"), QFileInfo(file).absoluteFilePath()});
    if (!mpv.WaitForEvent(QStringLiteral("playback-restart"), 10000))
        return -1;
    Sleep(1);
    mpv.Send({QStringLiteral("set_property"), QStringLiteral("pause"), true});
    Sleep(1);
    const double cpu0 = CpuSeconds(mpv.Pid());
    Sleep(quiet);
    return (CpuSeconds(mpv.Pid()) - cpu0) / quiet;
}

double RssMb(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return -1;
}

// CPU share and resident memory with no file open, after the quiet time.
struct Idle {
    double cpu = -1;
    double rssMb = -1;
};

Idle IdleQel(const QString& folder, double quiet) {
    QelRun qel(folder);
    if (!qel.MappedMs())
        return {};
    Sleep(2);
    const double cpu0 = CpuSeconds(qel.Pid());
    Sleep(quiet);
    return {(CpuSeconds(qel.Pid()) - cpu0) / quiet, RssMb(qel.Pid())};
}

Idle IdleMpv(double quiet, MpvOutput output) {
    MpvRun mpv(output);
    if (!mpv.MappedMs())
        return {};
    Sleep(2);
    const double cpu0 = CpuSeconds(mpv.Pid());
    Sleep(quiet);
    return {(CpuSeconds(mpv.Pid()) - cpu0) / quiet, RssMb(mpv.Pid())};
}

// ----- Figures and the table -----

struct Figures {
    std::vector<double> values;
    void Add(double value) {
        if (value >= 0)
            values.push_back(value);
    }
    bool Empty() const { return values.empty(); }
    double Median() const {
        if (values.empty())
            return -1;
        std::vector<double> sorted = values;
        std::sort(sorted.begin(), sorted.end());
        const std::size_t n = sorted.size();
        return n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
    }
    double Min() const {
        return values.empty() ? -1 : *std::min_element(values.begin(), values.end());
    }
    double Max() const {
        return values.empty() ? -1 : *std::max_element(values.begin(), values.end());
    }
    QString Text(int decimals) const {
        if (values.empty())
            return QStringLiteral("n/a");
        return QStringLiteral("%1 (%2–%3)")
            .arg(Median(), 0, 'f', decimals)
            .arg(Min(), 0, 'f', decimals)
            .arg(Max(), 0, 'f', decimals);
    }
};

struct Row {
    QString what;
    Figures qel;
    QString reference;
    Figures ref;
    int decimals = 3;
    QString target;
    // True when the target is met, from the medians.
    std::function<bool(const Row&)> met;
    QString note;
};

QString Verdict(const Row& row) {
    if (row.qel.Empty() || !row.met)
        return QStringLiteral("n/a");
    return row.met(row) ? QStringLiteral("met") : QStringLiteral("**missed**");
}

QString Ratio(const Row& row) {
    if (row.qel.Empty() || row.ref.Empty() || row.ref.Median() <= 0)
        return QStringLiteral("–");
    return QStringLiteral("%1×").arg(row.qel.Median() / row.ref.Median(), 0, 'f', 2);
}

QString Machine() {
    QString cpu;
    QFile info(QStringLiteral("/proc/cpuinfo"));
    if (info.open(QIODevice::ReadOnly))
        for (const QByteArray& line : info.readAll().split('\n'))
            if (line.startsWith("model name")) {
                cpu = QString::fromLatin1(line.mid(line.indexOf(':') + 1).trimmed());
                break;
            }
    double memoryGb = 0;
    QFile meminfo(QStringLiteral("/proc/meminfo"));
    if (meminfo.open(QIODevice::ReadOnly))
        memoryGb = meminfo.readLine().split(':').last().trimmed().split(' ').first().toDouble() /
                   1024.0 / 1024.0;
    const auto kernel = RunTool(QStringLiteral("uname"), {QStringLiteral("-sr")});
    QFile debian(QStringLiteral("/etc/debian_version"));
    const QString debianVersion = debian.open(QIODevice::ReadOnly)
                                      ? QString::fromLatin1(debian.readAll().trimmed())
                                      : QString();
    const auto mpvVersion = RunTool(QStringLiteral("mpv"), {QStringLiteral("--version")});
    return QStringLiteral("- CPU: %1, %2 logical cores; memory %3 GiB\n"
                          "- System: Debian %4, %5\n"
                          "- Qt %6; %7\n"
                          "- Display: Xvfb with Mesa's software OpenGL (llvmpipe); sound: "
                          "PulseAudio null sink (the switch rows also PipeWire's pulse server)\n")
        .arg(cpu)
        .arg(QThread::idealThreadCount())
        .arg(memoryGb, 0, 'f', 1)
        .arg(debianVersion,
             kernel ? QString::fromLatin1(kernel->trimmed()) : QStringLiteral("Linux"),
             QString::fromLatin1(qVersion()),
             mpvVersion
                 ? QString::fromUtf8(mpvVersion->split('\n').first().split(' ').mid(0, 2).join(' '))
                 : QStringLiteral("mpv"));
}

// The listing figures from the in-process benchmark, by name ("FileListBox/100000").
std::map<QString, Figures> Listing(bool smoke, int repetitions) {
    std::fprintf(stderr, "qel_bench: listing folders\n");
    std::map<QString, Figures> figures;
    QProcess bench;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (smoke)
        environment.insert(QStringLiteral("QEL_BENCH_SMOKE"), QStringLiteral("1"));
    bench.setProcessEnvironment(environment);
    bench.start(QStringLiteral(QEL_LISTING_BENCH),
                {QStringLiteral("--benchmark_format=json"),
                 QStringLiteral("--benchmark_repetitions=%1").arg(repetitions),
                 QStringLiteral("--benchmark_enable_random_interleaving=true")});
    if (!bench.waitForFinished(30 * 60 * 1000))
        return figures;
    const QJsonObject report = QJsonDocument::fromJson(bench.readAllStandardOutput()).object();
    for (const QJsonValue& value : report.value(QStringLiteral("benchmarks")).toArray()) {
        const QJsonObject entry = value.toObject();
        if (entry.value(QStringLiteral("run_type")) != QStringLiteral("iteration"))
            continue;
        // "FileListBox/1000/real_time": the benchmark and its size.
        const QStringList name = entry.value(QStringLiteral("run_name")).toString().split('/');
        if (name.size() < 2)
            continue;
        figures[name[0] + '/' + name[1]].Add(entry.value(QStringLiteral("real_time")).toDouble() /
                                             1000.0); // ms to s
    }
    return figures;
}

int Run(const Options& options) {
    const QString mpeg2 = options.media + QStringLiteral("/mpeg2/clip-720p.mpg");
    const QString wmv2 = options.media + QStringLiteral("/wmv2/clip-720p.wmv");
    const QString interlaced = options.media + QStringLiteral("/mpeg2i/clip-576i.mpg");
    std::vector<Row> rows;
    auto log = [](const QString& text) {
        std::fprintf(stderr, "qel_bench: %s\n", qPrintable(text));
    };

    const QStringList played = options.Wants("playback") ? QStringList{mpeg2, wmv2} : QStringList{};
    for (const QString& file : played) {
        const QString name = QFileInfo(file).suffix() == QStringLiteral("mpg")
                                 ? QStringLiteral("MPEG-2 720p30 `.mpg`")
                                 : QStringLiteral("WMV2 720p30 `.wmv`");
        const QString x11 = QStringLiteral("mpv --vo=x11");
        const QString gpuSw = QStringLiteral("mpv --vo=gpu --gpu-sw=yes");
        Row cpu{QStringLiteral("CPU s per media s, ") + name,
                {},
                x11,
                {},
                3,
                QStringLiteral("≤ mpv --vo=x11"),
                [](const Row& r) { return r.qel.Median() <= r.ref.Median(); },
                {}};
        Row cpuGl{QStringLiteral("CPU s per media s, ") + name,
                  {},
                  gpuSw,
                  {},
                  3,
                  QStringLiteral("≤ 1.10 × mpv on software OpenGL"),
                  [](const Row& r) { return r.qel.Median() <= 1.10 * r.ref.Median(); },
                  {}};
        Row floor{QStringLiteral("decode alone (`ffmpeg -f null`), ") + name,
                  {},
                  QStringLiteral("–"),
                  {},
                  3,
                  QStringLiteral("the floor"),
                  nullptr,
                  {}};
        Row scaleFloor{
            QStringLiteral("decode and scale to 400×300 (`ffmpeg -vf scale -f null`), ") + name,
            {},
            QStringLiteral("–"),
            {},
            3,
            QStringLiteral("the floor of any player"),
            nullptr,
            {}};
        Row drops{
            QStringLiteral("frames dropped, ") + name,     {}, x11, {}, 0, QStringLiteral("0"),
            [](const Row& r) { return r.qel.Max() == 0; }, {}};
        Row first{
            QStringLiteral("open to first frame (ms), ") + name,
            {},
            QStringLiteral("mpv (software OpenGL) start-file to playback-restart"),
            {},
            0,
            QStringLiteral("≤ 150 ms and ≤ mpv"),
            [](const Row& r) { return r.qel.Median() <= 150 && r.qel.Median() <= r.ref.Median(); },
            {}};
        Row rss{QStringLiteral("peak RSS (MiB), ") + name,
                {},
                x11,
                {},
                0,
                QStringLiteral("≤ 1.1 × mpv --vo=x11"),
                [](const Row& r) { return r.qel.Median() <= 1.1 * r.ref.Median(); },
                {}};
        Row rssGl{QStringLiteral("peak RSS (MiB), ") + name,
                  {},
                  gpuSw,
                  {},
                  0,
                  QStringLiteral("≤ 1.2 × mpv on software OpenGL"),
                  [](const Row& r) { return r.qel.Median() <= 1.2 * r.ref.Median(); },
                  {}};
        for (int pair = 0; pair < options.pairs; ++pair) {
            log(QStringLiteral("playing %1, pair %2")
                    .arg(QFileInfo(file).fileName())
                    .arg(pair + 1));
            const PlayRun a = PlayQel(file, options.seconds);
            const PlayRun b = PlayMpv(file, options.seconds, MpvOutput::X11);
            const PlayRun c = PlayMpv(file, options.seconds, MpvOutput::SoftwareOpenGL);
            const QStringList ffmpeg = {QStringLiteral("ffmpeg"), QStringLiteral("-nostdin"),
                                        QStringLiteral("-i"), file};
            const QStringList null = {QStringLiteral("-f"), QStringLiteral("null"),
                                      QStringLiteral("-")};
            const Rusage decode = RunForUsage(ffmpeg + null);
            const Rusage scale = RunForUsage(
                ffmpeg + QStringList{QStringLiteral("-vf"), QStringLiteral("scale=400:300")} +
                null);
            cpu.qel.Add(a.cpuPerMediaSecond);
            cpu.ref.Add(b.cpuPerMediaSecond);
            cpuGl.qel.Add(a.cpuPerMediaSecond);
            cpuGl.ref.Add(c.cpuPerMediaSecond);
            floor.qel.Add(decode.cpu / options.seconds);
            scaleFloor.qel.Add(scale.cpu / options.seconds);
            drops.qel.Add(a.dropped);
            drops.ref.Add(b.dropped);
            first.qel.Add(a.firstFrameMs);
            first.ref.Add(c.firstFrameMs);
            rss.qel.Add(a.peakMb);
            rss.ref.Add(b.peakMb);
            rssGl.qel.Add(a.peakMb);
            rssGl.ref.Add(c.peakMb);
        }
        if (!cpu.qel.Empty() && !scaleFloor.qel.Empty() && scaleFloor.qel.Median() > 0)
            cpu.note = QStringLiteral("%1× the decode-and-scale floor")
                           .arg(cpu.qel.Median() / scaleFloor.qel.Median(), 0, 'f', 2);
        rows.insert(rows.end(), {cpu, cpuGl, floor, scaleFloor, drops, first, rss, rssGl});
    }

    // Interlaced MPEG-2, against mpv deinterlacing it too (Qel does so by itself).
    if (options.Wants("playback")) {
        const QString name = QStringLiteral("MPEG-2 576i25 (interlaced) `.mpg`");
        const QString x11 = QStringLiteral("mpv --vo=x11 --deinterlace=yes");
        Row cpu{QStringLiteral("CPU s per media s, ") + name,
                {},
                x11,
                {},
                3,
                QStringLiteral("≤ mpv --vo=x11 --deinterlace=yes"),
                [](const Row& r) { return r.qel.Median() <= r.ref.Median(); },
                {}};
        Row drops{
            QStringLiteral("frames dropped, ") + name,     {}, x11, {}, 0, QStringLiteral("0"),
            [](const Row& r) { return r.qel.Max() == 0; }, {}};
        for (int pair = 0; pair < options.pairs; ++pair) {
            log(QStringLiteral("playing %1, pair %2")
                    .arg(QFileInfo(interlaced).fileName())
                    .arg(pair + 1));
            const PlayRun a = PlayQel(interlaced, options.seconds);
            const PlayRun b = PlayMpv(interlaced, options.seconds, MpvOutput::X11,
                                      {QStringLiteral("--deinterlace=yes")});
            cpu.qel.Add(a.cpuPerMediaSecond);
            cpu.ref.Add(b.cpuPerMediaSecond);
            drops.qel.Add(a.dropped);
            drops.ref.Add(b.dropped);
        }
        rows.insert(rows.end(), {cpu, drops});
    }

    // Switching files, on each sound server the run has: PulseAudio (the bench's
    // own) and PipeWire's pulse server where bench/run.sh could start one.
    if (options.Wants("switch")) {
        std::vector<std::pair<QString, QString>> servers{{QStringLiteral("PulseAudio"), {}}};
        const QString pipewire = qEnvironmentVariable("QEL_BENCH_PIPEWIRE_SERVER");
        if (!pipewire.isEmpty())
            servers.emplace_back(QStringLiteral("PipeWire"), pipewire);
        const auto met = [](const Row& r) {
            return r.qel.Median() <= 150 && r.qel.Max() <= 300;
        };
        for (const auto& [server, address] : servers) {
            Row next{QStringLiteral("switch on B to the position moving (ms), ") + server,
                     {},
                     QStringLiteral("–"),
                     {},
                     0,
                     QStringLiteral("median ≤ 150 ms, worst ≤ 300 ms"),
                     met,
                     {}};
            Row end{QStringLiteral("switch at the end of a file to the position moving (ms), ") +
                        server,
                    {},
                    QStringLiteral("–"),
                    {},
                    0,
                    QStringLiteral("median ≤ 150 ms, worst ≤ 300 ms"),
                    met,
                    {}};
            for (int pair = 0; pair < options.pairs; ++pair) {
                log(QStringLiteral("switching files on %1, run %2").arg(server).arg(pair + 1));
                const SwitchRun run = SwitchQel(options.media + QStringLiteral("/switch"), address);
                next.qel.Add(run.onNextMs);
                end.qel.Add(run.atEndMs);
            }
            rows.insert(rows.end(), {next, end});
        }
    }

    Row paused{QStringLiteral("CPU while paused (% of one core), MPEG-2 720p"),
               {},
               QStringLiteral("mpv paused"),
               {},
               2,
               QStringLiteral("≤ 0.5 %"),
               [](const Row& r) { return r.qel.Median() <= 0.5; },
               {}};
    Row idle{QStringLiteral("CPU with no file open (% of one core)"),
             {},
             QStringLiteral("mpv --idle --force-window"),
             {},
             2,
             QStringLiteral("–"),
             nullptr,
             {}};
    Row idleRss{QStringLiteral("RSS with no file open (MiB)"),
                {},
                QStringLiteral("mpv --idle --force-window --vo=x11"),
                {},
                0,
                QStringLiteral("≤ 80 MiB"),
                [](const Row& r) { return r.qel.Median() <= 80; },
                {}};
    Row startup{
        QStringLiteral("start to main window mapped (ms)"),
        {},
        QStringLiteral("mpv --idle --force-window"),
        {},
        0,
        QStringLiteral("≤ 300 ms and ≤ mpv"),
        [](const Row& r) { return r.qel.Median() <= 300 && r.qel.Median() <= r.ref.Median(); },
        {}};
    const bool quiet = options.Wants("quiet");
    const bool starting = options.Wants("startup");
    for (int pair = 0; (quiet || starting) && pair < options.pairs; ++pair) {
        log(QStringLiteral("paused, idle and start-up, pair %1").arg(pair + 1));
        if (quiet) {
            paused.qel.Add(PausedQel(mpeg2, options.quietSeconds) * 100);
            paused.ref.Add(PausedMpv(mpeg2, options.quietSeconds) * 100);
            const Idle ours = IdleQel(options.media, options.quietSeconds);
            const Idle gl = IdleMpv(options.quietSeconds, MpvOutput::SoftwareOpenGL);
            const Idle x11 = IdleMpv(options.quietSeconds, MpvOutput::X11);
            idle.qel.Add(ours.cpu * 100);
            idle.ref.Add(gl.cpu * 100);
            idleRss.qel.Add(ours.rssMb);
            idleRss.ref.Add(x11.rssMb);
        }
        if (starting) {
            QelRun qel(options.media);
            if (qel.MappedMs())
                startup.qel.Add(*qel.MappedMs());
        }
        if (starting) {
            MpvRun mpv;
            if (mpv.MappedMs())
                startup.ref.Add(*mpv.MappedMs());
        }
    }
    if (quiet)
        rows.insert(rows.end(), {paused, idle, idleRss});
    if (starting)
        rows.push_back(startup);

    const std::map<QString, Figures> listing = options.Wants("listing")
                                                   ? Listing(options.smoke, options.pairs)
                                                   : std::map<QString, Figures>{};
    for (int count : {1000, 10000, 100000}) {
        const QString key = QString::number(count);
        const auto ours = listing.find(QStringLiteral("FileListBox/") + key);
        const auto plain = listing.find(QStringLiteral("PlainListing/") + key);
        if (ours == listing.end() || plain == listing.end())
            continue;
        Row row{QStringLiteral("listing %1 matching + %1 other files (s)").arg(count),
                ours->second,
                QStringLiteral("readdir + case-insensitive sort"),
                plain->second,
                4,
                count == 100000 ? QStringLiteral("≤ 0.5 s and ≤ 3 × the plain loop")
                                : QStringLiteral("≤ 3 × the plain loop"),
                [count](const Row& r) {
                    return r.qel.Median() <= 3 * r.ref.Median() &&
                           (count != 100000 || r.qel.Median() <= 0.5);
                },
                {}};
        if (count == 100000) {
            const auto ten = listing.find(QStringLiteral("FileListBox/10000"));
            if (ten != listing.end() && ten->second.Median() > 0) {
                const double growth = ours->second.Median() / ten->second.Median();
                row.note = QStringLiteral("growth from 10,000: %1×").arg(growth, 0, 'f', 1);
                // The growth of the references, for what any listing must pay.
                const auto growthOf = [&](const QString& name) -> QString {
                    const auto small = listing.find(name + QStringLiteral("/10000"));
                    const auto large = listing.find(name + QStringLiteral("/100000"));
                    if (small == listing.end() || large == listing.end() ||
                        small->second.Median() <= 0)
                        return QStringLiteral("?");
                    return QString::number(large->second.Median() / small->second.Median(), 'f', 1);
                };
                row.note += QStringLiteral(" (the plain loop %1×, readdir alone %2×)")
                                .arg(growthOf(QStringLiteral("PlainListing")),
                                     growthOf(QStringLiteral("ReaddirOnly")));
                row.target += QStringLiteral("; growth from 10,000 ≤ 12×");
                row.met = [growth](const Row& r) {
                    return r.qel.Median() <= 3 * r.ref.Median() && r.qel.Median() <= 0.5 &&
                           growth <= 12;
                };
            }
        }
        rows.push_back(row);
    }
    for (int count : {1000, 10000, 100000}) {
        const QString key = QString::number(count);
        const auto ours = listing.find(QStringLiteral("ChangeOfFolder/") + key);
        const auto plain = listing.find(QStringLiteral("PlainListing/") + key);
        if (ours == listing.end() || plain == listing.end())
            continue;
        Row row{QStringLiteral("change of folder, both lists, %1 + %1 files (s)").arg(count),
                ours->second,
                QStringLiteral("readdir + case-insensitive sort"),
                plain->second,
                4,
                count == 100000 ? QStringLiteral("≤ 1.2 × the plain loop; growth from 10,000 ≤ 11×")
                                : QStringLiteral("–"),
                nullptr,
                {}};
        if (count == 100000) {
            const auto ten = listing.find(QStringLiteral("ChangeOfFolder/10000"));
            const double growth = ten != listing.end() && ten->second.Median() > 0
                                      ? ours->second.Median() / ten->second.Median()
                                      : -1;
            if (growth > 0)
                row.note = QStringLiteral("growth from 10,000: %1×").arg(growth, 0, 'f', 1);
            row.met = [growth](const Row& r) {
                return r.qel.Median() <= 1.2 * r.ref.Median() && growth > 0 && growth <= 11;
            };
        }
        rows.push_back(row);
    }

    QString table = QStringLiteral(
        "| measurement | Qel: median (min–max) | reference | reference: median (min–max) | "
        "Qel / reference | target | |\n|---|---|---|---|---|---|---|\n");
    for (const Row& row : rows) {
        table += QStringLiteral("| %1 | %2 | %3 | %4 | %5 | %6 | %7 |\n")
                     .arg(row.what, row.qel.Text(row.decimals), row.reference,
                          row.ref.Empty() ? QStringLiteral("–") : row.ref.Text(row.decimals),
                          Ratio(row) +
                              (row.note.isEmpty() ? QString() : QStringLiteral("; ") + row.note),
                          row.target, Verdict(row));
    }
    QString text =
        QStringLiteral("## Figures of the last run\n\n%1, %2 pairs (Qel then its "
                       "reference, alternating), clips of %3 s.\n\n%4\n### Machine\n\n%5")
            .arg(QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd hh:mm 'UTC'")))
            .arg(options.pairs)
            .arg(options.seconds)
            .arg(table, Machine());
    std::fprintf(stdout, "%s\n", qPrintable(text));
    if (!options.out.isEmpty()) {
        QFile out(options.out);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 1;
        out.write(text.toUtf8());
    }
    // A run that measured nothing is a failure, so the smoke run catches a broken instrument.
    for (const Row& row : rows)
        if (row.qel.Empty())
            return 2;
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    Options options;
    const QStringList arguments = QCoreApplication::arguments();
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        const auto next = [&] {
            return ++i < arguments.size() ? arguments[i] : QString();
        };
        if (argument == QStringLiteral("--media"))
            options.media = next();
        else if (argument == QStringLiteral("--out"))
            options.out = next();
        else if (argument == QStringLiteral("--pairs"))
            options.pairs = next().toInt();
        else if (argument == QStringLiteral("--seconds"))
            options.seconds = next().toDouble();
        else if (argument == QStringLiteral("--smoke"))
            options.smoke = true;
        else if (argument == QStringLiteral("--only"))
            options.only = next().split(QLatin1Char(','));
        else {
            std::fprintf(stderr, "qel_bench: unknown argument %s\n", qPrintable(argument));
            return 2;
        }
    }
    const QStringList groups = {QStringLiteral("playback"), QStringLiteral("switch"),
                                QStringLiteral("quiet"), QStringLiteral("startup"),
                                QStringLiteral("listing")};
    if (options.media.isEmpty() || options.pairs < 1 || options.seconds <= 0 ||
        std::any_of(options.only.begin(), options.only.end(),
                    [&](const QString& group) { return !groups.contains(group); })) {
        std::fprintf(stderr,
                     "usage: qel_bench --media FOLDER [--out FILE] [--pairs N] [--seconds S] "
                     "[--smoke] "
                     "[--only GROUP,...]\n");
        return 2;
    }
    if (options.smoke)
        options.quietSeconds = 1;
    return Run(options);
}
