// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>

// Work that may block on the file system, run on a thread of its own; what it
// hands back runs on the owner's thread, through the owner's error guard. A thread stuck in a share
// that stopped answering cannot be stopped: it is never waited for, and the end of the process ends
// it.
class BackgroundWork : public QObject {
    Q_OBJECT
public:
    // Runs on the owner's thread, inside the guard, only while the work is still
    // wanted.
    using Delivery = std::function<void()>;
    // Runs on the work's own thread.
    using Work = std::function<Delivery()>;
    using Guard = void (*)(const std::function<void()>&) noexcept;

    explicit BackgroundWork(Guard guard, QObject* parent = nullptr);
    ~BackgroundWork() override;

    // Starts work that supersedes all that was started before.
    void Start(Work work);
    // Starts work beside the latest, superseded with it.
    void StartAlongside(Work work);
    // Whatever is under way is no longer wanted.
    void Supersede();
    // Whether the latest work has yet to hand back its result.
    bool Busy() const { return waitingFor_ > 0; }
    // Started work of every owner whose result has not been handled yet.
    static int UnderWay();

    static constexpr int kSlowAfterMs = 200;

Q_SIGNALS:
    // The latest work has taken longer than kSlowAfterMs (true), or has ended (false).
    void SlowChanged(bool slow);

protected:
    bool event(QEvent* event) override;

private:
    struct Mailbox;

    void Launch(Work work);
    void Settle();

    Guard guard_;
    std::shared_ptr<Mailbox> mailbox_;
    std::uint64_t generation_ = 0;
    int waitingFor_ = 0;
    bool slow_ = false;
    QTimer slowTimer_;
};
