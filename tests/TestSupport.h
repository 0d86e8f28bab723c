// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "common/ErrorReport.h"
#include "platform/MemoryWaveOutVolume.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <vector>

// Readable failures for Qt's strings.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList& texts, std::ostream* out) {
    *out << '{';
    for (const QString& text : texts)
        *out << " \"" << text.toStdString() << '"';
    *out << " }";
}

class SimulatedMediaService;
class TForm1;
class TAboutBox;

// A temporary folder that tests fill with entries by their exact bytes.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();

    QByteArray Path() const;
    QByteArray PathOf(const QByteArray& name) const;
    void File(const QByteArray& name, const QByteArray& content = "x") const;
    void Folder(const QByteArray& name) const;
    void Link(const QByteArray& name, const QByteArray& target) const;
    void Fifo(const QByteArray& name) const;
    void Mode(const QByteArray& name, unsigned mode) const;

private:
    QTemporaryDir dir_;
};

// Answers every message box and keeps what was asked.
class MessageRecorder {
public:
    MessageRecorder();
    ~MessageRecorder();

    const std::vector<MessageRequest>& Messages() const { return messages_; }
    QString LastText() const { return messages_.empty() ? QString() : messages_.back().Text; }
    void Clear() { messages_.clear(); }

private:
    std::vector<MessageRequest> messages_;
};

// Puts the process's current folder back when the test ends.
class CurrentFolderGuard {
public:
    CurrentFolderGuard();
    ~CurrentFolderGuard();

private:
    QByteArray saved_;
};

// Lets the browser's background reads end and show what they found; false when
// they did not end in time.
bool WaitForFolderReads(int timeoutMs = 10000);

// Runs a check in a child process without root's rights (root reads everything,
// so refused access can only be seen by an ordinary user). Returns the check's
// result; a failed switch of user counts as failure.
bool RunUnprivileged(const std::function<bool()>& check);
// The user the unprivileged child runs as; files it must reach are handed to it.
unsigned UnprivilegedUid();

// The main window and the about box as start-up makes them, shown, with the
// process in a folder of the test's own.
class MainWindowHarness {
public:
    // device: the output device as the program finds it at start; arguments:
    // the command line after the program's name.
    explicit MainWindowHarness(const QByteArray& startFolder,
                               MemoryOutputDevice device = {0x4CCC4CCC, true, {}},
                               std::vector<QByteArray> arguments = {});
    ~MainWindowHarness();

    TForm1& Form() const { return *form_; }
    SimulatedMediaService& Media() const { return *media_; }
    MemoryOutputDevice& Device() { return device_; }
    // Ends the window as exit does: its destroy handler runs.
    void DestroyWindow();

private:
    SimulatedMediaService* media_ = nullptr;
    MemoryOutputDevice device_;
    CurrentFolderGuard folderGuard_;
    std::unique_ptr<TForm1> form_;
    std::unique_ptr<TAboutBox> aboutBox_;
};
