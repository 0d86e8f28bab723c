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
    // Sent, not waited for: a request still on its way, or a release the bus
    // never delivers, ends with the connection, which the service watches.
    wanted_ = false;
    Release();
}

void ScreenSaverInhibitor::SetHeld(bool held) {
    if (held == wanted_)
        return;
    wanted_ = held;
    if (held)
        Inhibit();
    else
        Release();
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
        Release();
}

void ScreenSaverInhibitor::Release() {
    if (!cookie_)
        return;
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("UnInhibit"));
    call << *cookie_;
    cookie_.reset();
    bus_.asyncCall(call, kCallTimeoutMs);
}
