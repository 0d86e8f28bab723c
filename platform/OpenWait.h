// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// While an open waits for the media engine with the event loop running, the
// user's keys and the desktop's commands wait as well: what arrives meanwhile
// runs once the wait is over, in the order it came.

#include <QObject>

#include <functional>

namespace OpenWait {

// Keys pressed during the scope are held back and sent again after it; held
// keys' repeats are dropped.
class Scope : public QObject {
public:
    Scope();
    ~Scope() override;
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

protected:
    bool eventFilter(QObject* target, QEvent* event) override;
};

bool Active();
// Runs the job now, or after the wait on the context's thread; not at all if
// the context is gone by then.
void RunWhenFree(QObject* context, std::function<void()> job);

} // namespace OpenWait
