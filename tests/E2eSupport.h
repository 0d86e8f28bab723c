// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// Drives the real qel binary under an X server, as a user would: xdotool for the
// window and the keys, ImageMagick's import for screenshots.

#include <QImage>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <vector>

#include <optional>

// Skips the test when there is no display, unless the test command (which always
// provides one) says a display is required, and then fails it.
#define QEL_REQUIRE_DISPLAY()                                                                      \
    do {                                                                                           \
        if (qEnvironmentVariableIsEmpty("DISPLAY")) {                                              \
            if (qEnvironmentVariableIsSet("QEL_TEST_REQUIRE_DISPLAY"))                             \
                FAIL() << "no DISPLAY, though the test command should have started Xvfb";          \
            GTEST_SKIP() << "no DISPLAY: run the suite through scripts/test.sh";                   \
        }                                                                                          \
    } while (false)

// Runs a command to its end and returns its standard output, or nothing on failure.
std::optional<QByteArray> RunTool(const QString& program, const QStringList& arguments,
                                  int timeoutMs = 10000);

class QelProcess {
public:
    QelProcess(const QString& workingFolder, const QStringList& arguments = {});
    ~QelProcess();

    // The id of the window titled "Qel" (or matching another title pattern) that
    // this process shows, once it is mapped.
    std::optional<QString> WaitForWindow(int timeoutMs = 15000,
                                         const QString& title = QStringLiteral("^Qel$"));
    // The window's client area on the screen.
    std::optional<QRect> Geometry(const QString& window) const;
    // Gives the window the keyboard focus and types a key combination ("ctrl+alt+q").
    bool Key(const QString& window, const QString& keys) const;
    // Presses or releases one key ("d") in the focused window, as a held key would.
    bool KeyDown(const QString& window, const QString& key) const;
    bool KeyUp(const QString& key) const;
    // Clicks at a point of the window's client area (button 1 left, 3 right).
    bool Click(const QString& window, QPoint at, int button = 1,
               const QString& modifier = {}) const;
    bool Signal(int number) const;
    // Waits for the process to end; returns its exit code, or nothing on a timeout or crash.
    std::optional<int> WaitForExit(int timeoutMs = 10000);
    QByteArray StandardError();
    qint64 Pid() const { return process_.processId(); }

private:
    QProcess process_;
    QByteArray stderr_;
};

// The default sink's raw channel volumes on the test command's sound server.
std::vector<unsigned> SinkChannels();
bool SetSinkChannels(const QStringList& values);

// The whole screen as it is now.
QImage Screenshot();
// A region of the screen, taken until it shows what is wanted or the time is up:
// the last one taken.
QImage ScreenUntil(const QRect& region, const std::function<bool(const QImage&)>& wanted,
                   int timeoutMs = 5000);

// Waits until the file list of the window whose client area is at `window` shows
// its first entry: the list is filled in after the window maps.
bool WaitForListedFiles(const QRect& window, int timeoutMs = 10000);

// Share of the pixels of a region that satisfy a test (1.0 = all of them).
double ShareOfPixels(const QImage& image, const QRect& region,
                     const std::function<bool(QColor)>& test);
