#pragma once

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

// A PulseAudio server of the test's own, with one null sink.
class PrivateSoundServer {
public:
    explicit PrivateSoundServer(const QString& sinkOptions = {}) {
        runtime_.setAutoRemove(true);
        socket_ = runtime_.filePath(QStringLiteral("native"));
        Start(sinkOptions);
    }
    ~PrivateSoundServer() { Kill(); }

    bool Running() const { return process_.state() == QProcess::Running && ready_; }
    std::string Address() const { return "unix:" + socket_.toStdString(); }

    void Kill() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
        ready_ = false;
    }
    // Stops the server where it stands, as SIGSTOP does: its socket stays, nothing answers.
    void Freeze() const { ::kill(static_cast<pid_t>(process_.processId()), SIGSTOP); }
    void Thaw() const { ::kill(static_cast<pid_t>(process_.processId()), SIGCONT); }
    void Start(const QString& sinkOptions = {}) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_.path());
        environment.insert(QStringLiteral("HOME"), runtime_.path());
        process_.setProcessEnvironment(environment);
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start(QStringLiteral("pulseaudio"),
                       {QStringLiteral("-n"), QStringLiteral("--daemonize=no"),
                        QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--disable-shm"),
                        QStringLiteral("--load=module-null-sink sink_name=qeltest ") + sinkOptions,
                        QStringLiteral("--load=module-native-protocol-unix auth-anonymous=1 "
                                       "socket=") +
                            socket_});
        process_.waitForStarted(5000);
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 10000 && process_.state() != QProcess::NotRunning) {
            if (Pactl({QStringLiteral("info")}).has_value()) {
                ready_ = true;
                return;
            }
            QThread::msleep(50);
        }
        process_.waitForFinished(100);
        std::fprintf(stderr, "the test's sound server did not start:\n%s\n",
                     process_.readAll().constData());
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
    QTemporaryDir runtime_{QDir::tempPath() + QStringLiteral("/qel-pulse-XXXXXX")};
    QString socket_;
    QProcess process_;
    bool ready_ = false;
};
