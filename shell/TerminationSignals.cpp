// SPDX-License-Identifier: GPL-3.0-or-later

#include "shell/TerminationSignals.h"

#include "common/ErrorReport.h"
#include "ui/MainForm.h"

#include <QApplication>
#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
static_assert(std::atomic<bool>::is_always_lock_free);
std::atomic<bool> requested{false};
// Each signal wakes two readers: the event loop, and the deadline's thread.
int loopPipe[2] = {-1, -1};
int deadlinePipe[2] = {-1, -1};
bool installed = false;

void Wake(int fd, char byte) {
    if (fd >= 0 && ::write(fd, &byte, 1) < 0) {
        // A full pipe already holds a byte: the reader is woken anyway.
    }
}

void OnSignal(int number) {
    // Only what is safe in a signal handler.
    const int saved = errno;
    requested.store(true);
    Wake(loopPipe[1], static_cast<char>(number));
    Wake(deadlinePipe[1], static_cast<char>(number));
    errno = saved;
}

// Waits for fd to become readable; false when the time ran out.
bool WaitReadable(int fd, int timeoutMs) {
    pollfd wanted{fd, POLLIN, 0};
    for (;;) {
        const int ready = ::poll(&wanted, 1, timeoutMs);
        if (ready >= 0)
            return ready > 0;
        if (errno != EINTR)
            return false;
    }
}

} // namespace

bool TerminationRequested() noexcept {
    return requested.load();
}

bool InstallTerminationHandlers() noexcept {
    if (installed)
        return true;
    if (::pipe2(loopPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false; // the signals keep their default: the program still ends
    if (::pipe2(deadlinePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        ::close(loopPipe[0]);
        ::close(loopPipe[1]);
        loopPipe[0] = loopPipe[1] = -1;
        return false;
    }
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : kSignals)
        ::sigaction(number, &action, nullptr);
    installed = true;
    return true;
}

TerminationSignals::TerminationSignals(std::function<void()> onSignal)
    : onSignal_(std::move(onSignal)) {
    if (!InstallTerminationHandlers())
        return;
    // A byte written before now is still in the pipe: the first loop hands it on.
    notifier_ = new QSocketNotifier(loopPipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignals::Drain);
}

TerminationSignals::~TerminationSignals() = default;

void TerminationSignals::Drain() {
    char bytes[16];
    while (::read(loopPipe[0], bytes, sizeof bytes) > 0) {
    }
    if (onSignal_)
        RunGuarded(onSignal_);
}

TerminationDeadline::TerminationDeadline(std::chrono::milliseconds grace,
                                         std::function<void()> lastWords) {
    if (!InstallTerminationHandlers() || ::pipe2(disarm_, O_CLOEXEC) != 0)
        return;
    const int signalled = deadlinePipe[0];
    const int disarmed = disarm_[0];
    const int graceMs = static_cast<int>(grace.count());
    watcher_ = std::thread([signalled, disarmed, graceMs, lastWords = std::move(lastWords)] {
        pollfd wanted[2] = {{signalled, POLLIN, 0}, {disarmed, POLLIN, 0}};
        while (::poll(wanted, 2, -1) < 0 && errno == EINTR) {
        }
        if (wanted[1].revents != 0 || wanted[0].revents == 0)
            return;
        if (WaitReadable(disarmed, graceMs))
            return;
        try {
            if (lastWords)
                lastWords();
        } catch (...) {
        }
        ::_exit(0);
    });
}

TerminationDeadline::~TerminationDeadline() {
    if (disarm_[1] < 0)
        return;
    Wake(disarm_[1], 0);
    if (watcher_.joinable())
        watcher_.join();
    ::close(disarm_[0]);
    ::close(disarm_[1]);
}

void CloseMainWindowForSignal() {
    CloseModalBoxes();
    if (Form1 != nullptr)
        Form1->close();
    // Every loop, nested ones included; before the main loop runs, the start-up
    // asks TerminationRequested() instead.
    QCoreApplication::exit(0);
}
