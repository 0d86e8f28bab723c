// SPDX-License-Identifier: GPL-3.0-or-later

#include "tests/E2eSupport.h"

#include <QElapsedTimer>
#include <QProcessEnvironment>
#include <QThread>

#include <csignal>

std::optional<QByteArray> RunTool(const QString& program, const QStringList& arguments,
                                  int timeoutMs) {
    QProcess tool;
    tool.start(program, arguments);
    if (!tool.waitForFinished(timeoutMs)) {
        tool.kill();
        tool.waitForFinished(1000);
        return std::nullopt;
    }
    if (tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0)
        return std::nullopt;
    return tool.readAllStandardOutput();
}

QelProcess::QelProcess(const QString& workingFolder, const QStringList& arguments) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    // The engine's counters on stderr, for a failing test to show.
    environment.insert(QStringLiteral("QEL_DIAGNOSTICS"), QStringLiteral("1"));
    process_.setProcessEnvironment(environment);
    process_.setWorkingDirectory(workingFolder);
    process_.setProcessChannelMode(QProcess::SeparateChannels);
    process_.start(QStringLiteral(QEL_BINARY), arguments);
    process_.waitForStarted(5000);
}

QelProcess::~QelProcess() {
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(3000);
    }
}

std::optional<QString> QelProcess::WaitForWindow(int timeoutMs, const QString& title) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs && process_.state() == QProcess::Running) {
        // --all: this process's window of that title, not any window of either.
        const auto found = RunTool(QStringLiteral("xdotool"),
                                   {QStringLiteral("search"), QStringLiteral("--all"),
                                    QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                                    QString::number(Pid()), QStringLiteral("--name"), title});
        if (found && !found->trimmed().isEmpty())
            return QString::fromLatin1(found->trimmed().split('\n').first());
        QThread::msleep(100);
    }
    return std::nullopt;
}

std::optional<QRect> QelProcess::Geometry(const QString& window) const {
    const auto shell = RunTool(QStringLiteral("xdotool"), {QStringLiteral("getwindowgeometry"),
                                                           QStringLiteral("--shell"), window});
    if (!shell)
        return std::nullopt;
    QRect rect;
    for (const QByteArray& line : shell->split('\n')) {
        const QList<QByteArray> pair = line.split('=');
        if (pair.size() != 2)
            continue;
        const int value = pair[1].toInt();
        if (pair[0] == "X")
            rect.moveLeft(value);
        else if (pair[0] == "Y")
            rect.moveTop(value);
        else if (pair[0] == "WIDTH")
            rect.setWidth(value);
        else if (pair[0] == "HEIGHT")
            rect.setHeight(value);
    }
    return rect;
}

bool QelProcess::Key(const QString& window, const QString& keys) const {
    return RunTool(QStringLiteral("xdotool"),
                   {QStringLiteral("windowfocus"), QStringLiteral("--sync"), window}) &&
           RunTool(QStringLiteral("xdotool"), {QStringLiteral("key"), keys});
}

bool QelProcess::KeyDown(const QString& window, const QString& key) const {
    return RunTool(QStringLiteral("xdotool"),
                   {QStringLiteral("windowfocus"), QStringLiteral("--sync"), window}) &&
           RunTool(QStringLiteral("xdotool"), {QStringLiteral("keydown"), key});
}

bool QelProcess::KeyUp(const QString& key) const {
    return RunTool(QStringLiteral("xdotool"), {QStringLiteral("keyup"), key}).has_value();
}

bool QelProcess::Click(const QString& window, QPoint at, int button,
                       const QString& modifier) const {
    const auto geometry = Geometry(window);
    if (!geometry)
        return false;
    const QPoint screen = geometry->topLeft() + at;
    QStringList arguments{QStringLiteral("mousemove"), QString::number(screen.x()),
                          QString::number(screen.y())};
    if (!modifier.isEmpty())
        arguments << QStringLiteral("keydown") << modifier;
    arguments << QStringLiteral("click") << QString::number(button);
    if (!modifier.isEmpty())
        arguments << QStringLiteral("keyup") << modifier;
    return RunTool(QStringLiteral("xdotool"), arguments).has_value();
}

bool QelProcess::Signal(int number) const {
    return ::kill(static_cast<pid_t>(Pid()), number) == 0;
}

std::optional<int> QelProcess::WaitForExit(int timeoutMs) {
    if (!process_.waitForFinished(timeoutMs))
        return std::nullopt;
    stderr_ += process_.readAllStandardError();
    if (process_.exitStatus() != QProcess::NormalExit)
        return std::nullopt;
    return process_.exitCode();
}

QByteArray QelProcess::StandardError() {
    // Without an event loop the pipe is read only when asked to wait for it.
    process_.setReadChannel(QProcess::StandardError);
    while (process_.state() == QProcess::Running && process_.waitForReadyRead(50))
        stderr_ += process_.readAllStandardError();
    stderr_ += process_.readAllStandardError();
    return stderr_;
}

std::vector<unsigned> SinkChannels() {
    const auto text = RunTool(QStringLiteral("pactl"), {QStringLiteral("get-sink-volume"),
                                                        QStringLiteral("@DEFAULT_SINK@")});
    std::vector<unsigned> values;
    if (!text)
        return values;
    // "Volume: front-left: 65536 / 100% / 0,00 dB,   front-right: ..."
    const QList<QByteArray> parts = text->split('\n').first().split(':');
    for (int i = 1; i + 1 < parts.size(); ++i)
        if (parts[i].endsWith("front-left") || parts[i].endsWith("front-right") ||
            parts[i].endsWith("mono"))
            values.push_back(parts[i + 1].trimmed().split(' ').first().toUInt());
    return values;
}

bool SetSinkChannels(const QStringList& values) {
    return RunTool(QStringLiteral("pactl"), QStringList{QStringLiteral("set-sink-volume"),
                                                        QStringLiteral("@DEFAULT_SINK@")} +
                                                values)
        .has_value();
}

QImage Screenshot() {
    const auto png =
        RunTool(QStringLiteral("import"),
                {QStringLiteral("-window"), QStringLiteral("root"), QStringLiteral("png:-")});
    QImage image;
    if (png)
        image.loadFromData(*png, "PNG");
    return image;
}

QImage ScreenUntil(const QRect& region, const std::function<bool(const QImage&)>& wanted,
                   int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    QImage shot = Screenshot().copy(region);
    while (!wanted(shot) && clock.elapsed() < timeoutMs) {
        QThread::msleep(100);
        shot = Screenshot().copy(region);
    }
    return shot;
}

double ShareOfPixels(const QImage& image, const QRect& region,
                     const std::function<bool(QColor)>& test) {
    const QRect inside = region.intersected(image.rect());
    if (inside.isEmpty())
        return 0.0;
    long matching = 0;
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            if (test(image.pixelColor(x, y)))
                ++matching;
    return double(matching) / double(inside.width() * inside.height());
}

bool WaitForListedFiles(const QRect& window, int timeoutMs) {
    const QRect firstRow(window.topLeft() + QPoint(405, 104), QSize(90, 10));
    const auto shown = [](const QImage& row) {
        return ShareOfPixels(row, row.rect(), [](QColor c) { return c.value() < 110; }) > 0.02;
    };
    return shown(ScreenUntil(firstRow, shown, timeoutMs));
}
