// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/OpenWait.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPointer>

#include <memory>

#include <utility>
#include <vector>

namespace {
struct Waiting {
    QPointer<QObject> Context;
    std::function<void()> Job;
};
int depth = 0;
std::vector<Waiting> waiting;
} // namespace

namespace OpenWait {

Scope::Scope() {
    ++depth;
    if (QCoreApplication::instance())
        QCoreApplication::instance()->installEventFilter(this);
}

Scope::~Scope() {
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(this);
    if (--depth > 0)
        return;
    std::vector<Waiting> due;
    due.swap(waiting);
    // Asked again when it runs: the job before it may have begun another open.
    for (Waiting& entry : due)
        if (entry.Context)
            QMetaObject::invokeMethod(
                entry.Context,
                [context = entry.Context, job = std::move(entry.Job)]() mutable {
                    RunWhenFree(context, std::move(job));
                },
                Qt::QueuedConnection);
}

bool Scope::eventFilter(QObject* target, QEvent* event) {
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease)
        return false;
    const auto* key = static_cast<const QKeyEvent*>(event);
    if (!key->isAutoRepeat()) {
        std::shared_ptr<QEvent> again(key->clone());
        // Not to a window behind a box that came up meanwhile, as the window
        // system would not send it there either.
        RunWhenFree(target, [target, again] {
            if (QGuiApplication::modalWindow() == nullptr)
                QCoreApplication::sendEvent(target, again.get());
        });
    }
    return true;
}

bool Active() {
    return depth > 0;
}

void RunWhenFree(QObject* context, std::function<void()> job) {
    if (depth > 0)
        waiting.push_back({context, std::move(job)});
    else
        job();
}

} // namespace OpenWait
