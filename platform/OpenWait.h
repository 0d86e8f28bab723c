#pragma once

// While an open waits for the media engine with the event loop running, the
// window's input and the desktop's commands wait as well: a command that
// arrives meanwhile runs once the wait is over, in the order it came.

#include <QObject>

#include <functional>

namespace OpenWait {
class Scope {
public:
    Scope();
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
};

bool Active();
// Runs the job now, or after the wait on the context's thread; not at all if
// the context is gone by then.
void RunWhenFree(QObject* context, std::function<void()> job);
} // namespace OpenWait
