// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// A private session bus for the tests, a stand-in screen saver that records
// what it is asked, and a client that calls without blocking the window's thread.

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QMutex>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QThread>
#include <QVariant>

#include <functional>

// dbus-daemon --session on an address of its own, for the life of the object.
class PrivateSessionBus {
public:
    PrivateSessionBus() {
        daemon_.start(QStringLiteral("dbus-daemon"),
                      {QStringLiteral("--session"), QStringLiteral("--nofork"),
                       QStringLiteral("--print-address=1")});
        if (daemon_.waitForStarted(5000) && daemon_.waitForReadyRead(5000))
            address_ = QString::fromUtf8(daemon_.readLine().trimmed());
    }
    ~PrivateSessionBus() {
        for (const QString& name : names_)
            QDBusConnection::disconnectFromBus(name);
        daemon_.kill();
        daemon_.waitForFinished(5000);
    }
    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

    const QString& Address() const { return address_; }
    qint64 Pid() const { return daemon_.processId(); }
    // A connection of its own: a name seen on the bus as a separate client.
    QDBusConnection Connect(const QString& name) {
        names_.append(name);
        return QDBusConnection::connectToBus(address_, name);
    }

private:
    QProcess daemon_;
    QString address_;
    QStringList names_;
};

// Runs the window's event loop until done() holds or the time is up.
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

// org.freedesktop.ScreenSaver on a thread of its own, so that it answers while
// the window's thread waits.
class StandInScreenSaver : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
public:
    explicit StandInScreenSaver(PrivateSessionBus& bus, int answerDelayMs = 0)
        : answerDelayMs_(answerDelayMs) {
        moveToThread(&thread_);
        thread_.start();
        QDBusConnection connection = bus.Connect(QStringLiteral("stand-in screen saver"));
        registered_ = connection.registerObject(QStringLiteral("/org/freedesktop/ScreenSaver"),
                                                this, QDBusConnection::ExportAllSlots) &&
                      connection.registerService(QStringLiteral("org.freedesktop.ScreenSaver"));
    }
    ~StandInScreenSaver() override {
        thread_.quit();
        thread_.wait();
    }

    bool Registered() const { return registered_; }
    // "Inhibit <cookie> <application>" and "UnInhibit <cookie>", in order.
    QStringList Calls() const {
        QMutexLocker lock(&mutex_);
        return calls_;
    }
    int Held() const {
        QMutexLocker lock(&mutex_);
        return held_;
    }

public Q_SLOTS:
    uint Inhibit(const QString& application, const QString&) {
        QThread::msleep(static_cast<unsigned long>(answerDelayMs_));
        QMutexLocker lock(&mutex_);
        const uint cookie = ++lastCookie_;
        ++held_;
        calls_.append(QStringLiteral("Inhibit %1 %2").arg(cookie).arg(application));
        return cookie;
    }
    void UnInhibit(uint cookie) {
        QMutexLocker lock(&mutex_);
        if (cookie >= 1 && cookie <= lastCookie_)
            --held_;
        calls_.append(QStringLiteral("UnInhibit %1").arg(cookie));
    }

private:
    QThread thread_;
    int answerDelayMs_;
    bool registered_ = false;
    mutable QMutex mutex_;
    QStringList calls_;
    uint lastCookie_ = 0;
    int held_ = 0;
};

// A media-controls client: calls run the window's event loop while they wait.
class MprisClient : public QObject {
    Q_OBJECT
public:
    MprisClient(PrivateSessionBus& bus, QString service)
        : bus_(bus.Connect(QStringLiteral("media controls client"))), service_(std::move(service)) {
        bus_.connect(service_, QStringLiteral("/org/mpris/MediaPlayer2"),
                     QStringLiteral("org.freedesktop.DBus.Properties"),
                     QStringLiteral("PropertiesChanged"), this,
                     SLOT(OnPropertiesChanged(QString, QVariantMap, QStringList)));
        bus_.connect(service_, QStringLiteral("/org/mpris/MediaPlayer2"),
                     QStringLiteral("org.mpris.MediaPlayer2.Player"), QStringLiteral("Seeked"),
                     this, SLOT(OnSeeked(qlonglong)));
    }

    QDBusMessage Call(const QString& interface, const QString& method,
                      const QVariantList& arguments = {}) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            service_, QStringLiteral("/org/mpris/MediaPlayer2"), interface, method);
        call.setArguments(arguments);
        QDBusPendingCall pending = bus_.asyncCall(call, 5000);
        WaitUntil([&pending] { return pending.isFinished(); }, 6000);
        // The player acts on a command once it has answered it.
        QCoreApplication::processEvents();
        return pending.reply();
    }
    QDBusMessage Player(const QString& method, const QVariantList& arguments = {}) {
        return Call(QStringLiteral("org.mpris.MediaPlayer2.Player"), method, arguments);
    }
    QVariant Get(const QString& interface, const QString& property) {
        const QDBusMessage reply = Call(QStringLiteral("org.freedesktop.DBus.Properties"),
                                        QStringLiteral("Get"), {interface, property});
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return {};
        return reply.arguments().first().value<QDBusVariant>().variant();
    }
    QVariant PlayerProperty(const QString& property) {
        return Get(QStringLiteral("org.mpris.MediaPlayer2.Player"), property);
    }
    QVariant RootProperty(const QString& property) {
        return Get(QStringLiteral("org.mpris.MediaPlayer2"), property);
    }
    bool Set(const QString& property, const QVariant& value) {
        const QDBusMessage reply =
            Call(QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"),
                 {QStringLiteral("org.mpris.MediaPlayer2.Player"), property,
                  QVariant::fromValue(QDBusVariant(value))});
        return reply.type() == QDBusMessage::ReplyMessage;
    }

    // What PropertiesChanged announced, each property with its last value.
    QVariantMap Changed() const { return changed_; }
    void ForgetChanges() {
        changed_.clear();
        seeks_.clear();
    }
    QList<qlonglong> Seeks() const { return seeks_; }

private Q_SLOTS:
    void OnPropertiesChanged(const QString& interface, const QVariantMap& changed,
                             const QStringList&) {
        if (interface == QLatin1String("org.mpris.MediaPlayer2.Player"))
            for (auto it = changed.begin(); it != changed.end(); ++it)
                changed_.insert(it.key(), it.value());
    }
    void OnSeeked(qlonglong position) { seeks_.append(position); }

private:
    QDBusConnection bus_;
    QString service_;
    QVariantMap changed_;
    QList<qlonglong> seeks_;
};
