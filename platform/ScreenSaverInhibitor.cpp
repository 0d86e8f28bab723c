// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/ScreenSaverInhibitor.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

#include <utility>

namespace {

const QString kService = QStringLiteral("org.freedesktop.ScreenSaver");
const QString kPath = QStringLiteral("/org/freedesktop/ScreenSaver");
const QString kInterface = QStringLiteral("org.freedesktop.ScreenSaver");
// A screen saver that hangs must not hold the exit for long.
constexpr int kCallTimeoutMs = 1000;

} // namespace

ScreenSaverInhibitor::ScreenSaverInhibitor(QDBusConnection bus, QString applicationName,
                                           QString reason, QObject* parent)
    : QObject(parent), bus_(std::move(bus)), applicationName_(std::move(applicationName)),
      reason_(std::move(reason)) {}

ScreenSaverInhibitor::~ScreenSaverInhibitor() {
    wanted_ = false;
    if (request_) {
        // Its cookie would otherwise be held until the connection closes.
        request_->waitForFinished();
        const QDBusPendingReply<uint> reply = *request_;
        if (reply.isValid())
            cookie_ = reply.value();
    }
    Release(true);
}

void ScreenSaverInhibitor::SetHeld(bool held) {
    if (held == wanted_)
        return;
    wanted_ = held;
    if (held)
        Inhibit();
    else
        Release(false);
}

void ScreenSaverInhibitor::Inhibit() {
    if (cookie_ || request_ || !bus_.isConnected())
        return;
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Inhibit"));
    call << applicationName_ << reason_;
    request_ = bus_.asyncCall(call, kCallTimeoutMs);
    auto* watcher = new QDBusPendingCallWatcher(*request_, this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* finished) {
                const QDBusPendingReply<uint> reply = *finished;
                finished->deleteLater();
                Granted(reply.isValid() ? std::optional<uint>(reply.value()) : std::nullopt);
            });
}

void ScreenSaverInhibitor::Granted(std::optional<uint> cookie) {
    request_.reset();
    cookie_ = cookie;
    // Paused or stopped while the request was on its way.
    if (!wanted_)
        Release(false);
}

void ScreenSaverInhibitor::Release(bool wait) {
    if (!cookie_)
        return;
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("UnInhibit"));
    call << *cookie_;
    cookie_.reset();
    if (wait)
        bus_.call(call, QDBus::Block, kCallTimeoutMs);
    else
        bus_.asyncCall(call, kCallTimeoutMs);
}
