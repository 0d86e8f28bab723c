#include "platform/OpenWait.h"

#include <QPointer>

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
}

Scope::~Scope() {
    if (--depth > 0)
        return;
    std::vector<Waiting> due;
    due.swap(waiting);
    for (Waiting& entry : due)
        if (entry.Context)
            QMetaObject::invokeMethod(entry.Context, std::move(entry.Job), Qt::QueuedConnection);
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
