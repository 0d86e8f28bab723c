// SPDX-License-Identifier: GPL-3.0-or-later

#include "shell/TerminationSignals.h"

#include "common/ErrorReport.h"
#include "ui/MainForm.h"

#include <QApplication>
#include <QSocketNotifier>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <unistd.h>

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
constexpr int kCrashSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
// How long a crashing thread waits for the last words before the crash goes on.
constexpr int kCrashWordsMs = 1000;
static_assert(std::atomic<bool>::is_always_lock_free);
std::atomic<bool> requested{false};
// Each signal wakes two readers: the event loop, and the deadline's thread.
int loopPipe[2] = {-1, -1};
int deadlinePipe[2] = {-1, -1};
bool installed = false;
// A crash wakes the deadline's thread, which answers once its last words are said.
int crashPipe[2] = {-1, -1};
int crashAnsweredPipe[2] = {-1, -1};

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

void OnCrash(int number) {
    static std::atomic_flag crashed = ATOMIC_FLAG_INIT;
    if (!crashed.test_and_set()) {
        Wake(crashPipe[1], static_cast<char>(number));
        WaitReadable(crashAnsweredPipe[0], kCrashWordsMs);
    }
    // The handler was reset on entry: the crash goes on as it would have.
    ::raise(number);
}

void InstallCrashHandlers() {
    // A thread that overflowed its stack still reaches the handler.
    static char alternateStack[64 * 1024];
    stack_t stack{};
    stack.ss_sp = alternateStack;
    stack.ss_size = sizeof alternateStack;
    ::sigaltstack(&stack, nullptr);
    struct sigaction action {};
    action.sa_handler = OnCrash;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND | SA_NODEFER | SA_ONSTACK;
    for (int number : kCrashSignals)
        ::sigaction(number, &action, nullptr);
}

void RemoveCrashHandlers() {
    for (int number : kCrashSignals)
        ::signal(number, SIG_DFL);
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

TerminationSignals::TerminationSignals(std::function<void()> onSignal) {
    if (!InstallTerminationHandlers())
        return;
    // A byte written before now is still in the pipe: the first loop hands it on.
    const auto* notifier = new QSocketNotifier(loopPipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [onSignal = std::move(onSignal)] {
        char bytes[16];
        while (::read(loopPipe[0], bytes, sizeof bytes) > 0) {
        }
        if (onSignal)
            RunGuarded(onSignal);
    });
}

TerminationDeadline::TerminationDeadline(std::chrono::milliseconds grace,
                                         std::function<void()> lastWords,
                                         std::function<void()> crashWords) {
    if (!InstallTerminationHandlers() || ::pipe2(disarm_, O_CLOEXEC) != 0)
        return;
    if (crashPipe[0] < 0 && (::pipe2(crashPipe, O_CLOEXEC | O_NONBLOCK) != 0 ||
                             ::pipe2(crashAnsweredPipe, O_CLOEXEC | O_NONBLOCK) != 0))
        crashPipe[0] = -1;
    const int signalled = deadlinePipe[0];
    const int disarmed = disarm_[0];
    const int crashed = crashPipe[0];
    const int graceMs = static_cast<int>(grace.count());
    watcher_ = std::thread([signalled, disarmed, crashed, graceMs, lastWords = std::move(lastWords),
                            crashWords = std::move(crashWords)] {
        const auto say = [](const std::function<void()>& words) {
            try {
                if (words)
                    words();
            } catch (...) {
            }
        };
        pollfd wanted[3] = {{signalled, POLLIN, 0}, {disarmed, POLLIN, 0}, {crashed, POLLIN, 0}};
        using Clock = std::chrono::steady_clock;
        std::optional<Clock::time_point> graceEnds;
        for (;;) {
            const int timeoutMs =
                graceEnds ? static_cast<int>(std::max<std::int64_t>(
                                0, std::chrono::duration_cast<std::chrono::milliseconds>(
                                       *graceEnds - Clock::now())
                                       .count()))
                          : -1;
            const int ready = ::poll(wanted, 3, timeoutMs);
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready < 0)
                return;
            if (ready == 0)
                break;
            // A crash in the grace too: the crashing thread re-raises, and the
            // program ends as a crash, not as a clean exit.
            if (wanted[2].revents != 0) {
                say(crashWords);
                Wake(crashAnsweredPipe[1], 0);
                return;
            }
            if (wanted[1].revents != 0)
                return;
            // Signalled or armed: the grace begins.
            wanted[0].fd = -1;
            graceEnds = Clock::now() + std::chrono::milliseconds(graceMs);
        }
        say(lastWords);
        ::_exit(0);
    });
    if (crashed >= 0)
        InstallCrashHandlers();
}

void TerminationDeadline::Arm() {
    Wake(deadlinePipe[1], 0);
}

TerminationDeadline::~TerminationDeadline() {
    if (disarm_[1] < 0)
        return;
    RemoveCrashHandlers();
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
