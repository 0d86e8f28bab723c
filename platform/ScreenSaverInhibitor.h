// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// Keeps the screen awake through org.freedesktop.ScreenSaver on the session bus.
// Calls never wait on the window's thread: the cookie arrives later, and a
// release asked for meanwhile is sent as soon as it does. Without a bus or
// without the service nothing happens.

#include <QDBusConnection>
#include <QDBusPendingCall>
#include <QObject>
#include <QString>

#include <optional>

class ScreenSaverInhibitor : public QObject {
    Q_OBJECT
public:
    ScreenSaverInhibitor(QDBusConnection bus, QString applicationName, QString reason,
                         QObject* parent = nullptr);
    // Releases a held inhibition without waiting for the service.
    ~ScreenSaverInhibitor() override;

    void SetHeld(bool held);
    // An inhibition is granted and not yet released.
    bool Holding() const { return cookie_.has_value(); }

private:
    void Inhibit();
    void Granted(std::optional<uint> cookie);
    void Release();

    QDBusConnection bus_;
    QString applicationName_;
    QString reason_;
    bool wanted_ = false;
    std::optional<QDBusPendingCall> request_;
    std::optional<uint> cookie_;
};
