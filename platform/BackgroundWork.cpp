// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/BackgroundWork.h"

#include <QCoreApplication>
#include <QEvent>

#include <atomic>
#include <csignal>
#include <exception>
#include <mutex>
#include <pthread.h>
#include <thread>

namespace {

std::atomic<int> underWay{0};

const QEvent::Type kDoneEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

class DoneEvent : public QEvent {
public:
    DoneEvent(std::uint64_t generation, BackgroundWork::Delivery delivery)
        : QEvent(kDoneEvent), Generation(generation), Deliver(std::move(delivery)) {}
    // Also when the owner is gone and the event is dropped unhandled.
    ~DoneEvent() override { --underWay; }

    std::uint64_t Generation;
    BackgroundWork::Delivery Deliver;
};

// The work's thread must leave signals to the window's thread: one stuck in the
// file system would take them and never run their handlers.
class AllSignalsBlocked {
public:
    AllSignalsBlocked() {
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, &saved_);
    }
    ~AllSignalsBlocked() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }
    AllSignalsBlocked(const AllSignalsBlocked&) = delete;
    AllSignalsBlocked& operator=(const AllSignalsBlocked&) = delete;

private:
    sigset_t saved_;
};

} // namespace

// Where a finished work posts its result; emptied when the owner goes.
struct BackgroundWork::Mailbox {
    std::mutex Lock;
    BackgroundWork* Owner = nullptr;
};

BackgroundWork::BackgroundWork(Guard guard, QObject* parent)
    : QObject(parent), guard_(guard), mailbox_(std::make_shared<Mailbox>()) {
    mailbox_->Owner = this;
    slowTimer_.setSingleShot(true);
    slowTimer_.setInterval(kSlowAfterMs);
    connect(&slowTimer_, &QTimer::timeout, this, [this] {
        slow_ = true;
        Q_EMIT SlowChanged(true);
    });
}

BackgroundWork::~BackgroundWork() {
    const std::lock_guard<std::mutex> lock(mailbox_->Lock);
    mailbox_->Owner = nullptr;
}

int BackgroundWork::UnderWay() {
    return underWay.load();
}

void BackgroundWork::Start(Work work) {
    Supersede();
    Launch(std::move(work));
}

void BackgroundWork::StartAlongside(Work work) {
    Launch(std::move(work));
}

void BackgroundWork::Supersede() {
    ++generation_;
    waitingFor_ = 0;
    Settle();
}

void BackgroundWork::Launch(Work work) {
    ++waitingFor_;
    if (!slow_ && !slowTimer_.isActive())
        slowTimer_.start();
    ++underWay;
    const AllSignalsBlocked blocked;
    std::thread([mailbox = mailbox_, generation = generation_, work = std::move(work)] {
        Delivery delivery;
        try {
            delivery = work();
        } catch (...) {
            // Reported on the owner's thread, as any other error.
            delivery = [error = std::current_exception()] {
                std::rethrow_exception(error);
            };
        }
        const std::lock_guard<std::mutex> lock(mailbox->Lock);
        if (!mailbox->Owner) {
            --underWay;
            return;
        }
        QCoreApplication::postEvent(mailbox->Owner, new DoneEvent(generation, std::move(delivery)));
    }).detach();
}

void BackgroundWork::Settle() {
    slowTimer_.stop();
    if (slow_) {
        slow_ = false;
        Q_EMIT SlowChanged(false);
    }
}

bool BackgroundWork::event(QEvent* event) {
    if (event->type() != kDoneEvent)
        return QObject::event(event);
    auto* done = static_cast<DoneEvent*>(event);
    if (done->Generation != generation_)
        return true;
    if (--waitingFor_ <= 0) {
        waitingFor_ = 0;
        Settle();
    }
    if (done->Deliver)
        guard_(done->Deliver);
    return true;
}
