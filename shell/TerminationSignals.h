// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QObject>

#include <chrono>
#include <functional>
#include <thread>

// Whether SIGTERM, SIGINT or SIGHUP has arrived since the handlers were
// installed. Process-wide; any thread may ask.
bool TerminationRequested() noexcept;

// Installs the handlers of SIGTERM, SIGINT and SIGHUP. They only note the
// request and wake whoever waits for it; they stay for the life of the process,
// so that no signal at any moment ends it where it stands. Call as early as
// possible; later calls do nothing. False when they could not be installed.
bool InstallTerminationHandlers() noexcept;

// Turns each termination signal into a call on whatever event loop runs, a
// modal box's included, so that the program ends through its ordinary close
// path. A signal that came before it existed is handed on once a loop runs.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(std::function<void()> onSignal);
};

// The last resort when no loop answers (the window's thread blocked): once a
// termination signal has come and the program has not ended within grace,
// runs lastWords on a thread of its own and ends the process with code 0.
// A crash (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT) has crashWords said on
// that thread, for a second at most, and then goes on as a crash.
// Going out of scope disarms it.
class TerminationDeadline {
public:
    TerminationDeadline(std::chrono::milliseconds grace, std::function<void()> lastWords,
                        std::function<void()> crashWords);
    ~TerminationDeadline();
    // Starts the grace as a termination signal would: the exit after the main
    // loop has the same bound.
    void Arm();
    TerminationDeadline(const TerminationDeadline&) = delete;
    TerminationDeadline& operator=(const TerminationDeadline&) = delete;

private:
    std::thread watcher_;
    int disarm_[2] = {-1, -1};
};

// Closes whatever modal box is open, then the main window, as the Quit command
// would once the boxes were answered, and ends every running loop.
void CloseMainWindowForSignal();
