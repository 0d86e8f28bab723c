// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/SharedVolumeRestore.h"

#include "platform/MprisService.h"

#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QList>
#include <QStringList>

#include <algorithm>
#include <thread>
#include <utility>

namespace {

using shared_volume::Finding;
using Clock = std::chrono::steady_clock;

const QString kDaemon = QStringLiteral("org.freedesktop.DBus");
const QString kDaemonPath = QStringLiteral("/org/freedesktop/DBus");
// A newcomer's question may take its time: nobody waits for the answer.
constexpr int kAskTimeoutMs = 2000;

QList<Finding> ToBus(const std::vector<FoundVolume>& found) {
    QList<Finding> findings;
    for (const FoundVolume& entry : found)
        findings.append({QByteArray::fromStdString(entry.Device),
                         QList<uint>(entry.Channels.begin(), entry.Channels.end()),
                         entry.FoundAtNs});
    return findings;
}

std::vector<FoundVolume> FromBus(const QList<Finding>& findings) {
    std::vector<FoundVolume> found;
    for (const Finding& finding : findings)
        found.push_back({finding.Device.toStdString(),
                         {finding.Channels.begin(), finding.Channels.end()},
                         finding.FoundAtNs});
    return found;
}

bool IsPeer(const QString& name, const QString& ownName) {
    return name != ownName && (name == MprisService::kBusName ||
                               name.startsWith(MprisService::kBusName + QLatin1Char('.')));
}

QDBusMessage DaemonCall(const QString& method) {
    return QDBusMessage::createMethodCall(kDaemon, kDaemonPath, kDaemon, method);
}

int MsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(1, left.count()));
}

// Polled rather than waited for: no event loop runs, and the bound holds
// whatever the bus's own thread does.
bool Answered(const QDBusPendingCall& call, Clock::time_point deadline) {
    while (!call.isFinished()) {
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void RegisterTypes() {
    qDBusRegisterMetaType<Finding>();
    qDBusRegisterMetaType<QList<Finding>>();
}

} // namespace

// The interface the players call on one another.
class SharedVolumeAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.qelplayer.Qel.Volume")
public:
    explicit SharedVolumeAdaptor(SharedVolumeRestore& owner)
        : QDBusAbstractAdaptor(&owner), owner_(owner) {}

public Q_SLOTS:
    // A newcomer's findings for this player's.
    // Spelt out: the bus finds the slot's types by their names.
    QList<shared_volume::Finding> Exchange(const QList<shared_volume::Finding>& theirs) {
        owner_.Take(FromBus(theirs));
        return ToBus(owner_.backend_.Found());
    }
    // A player that ends leaves the device to this one.
    void TakeOver(const QList<shared_volume::Finding>& theirs) {
        owner_.Take(FromBus(theirs));
        // After the answer.
        SharedVolumeRestore* owner = &owner_;
        if (owner->backend_.TakeOver)
            QMetaObject::invokeMethod(owner, owner->backend_.TakeOver, Qt::QueuedConnection);
    }

private:
    SharedVolumeRestore& owner_;
};

const QString SharedVolumeRestore::kObjectPath = QStringLiteral("/org/qelplayer/Qel/Volume");
const QString SharedVolumeRestore::kInterface = QStringLiteral("org.qelplayer.Qel.Volume");

SharedVolumeRestore::SharedVolumeRestore(QDBusConnection bus, QString ownName, Backend backend,
                                         QObject* parent)
    : QObject(parent), bus_(std::move(bus)), ownName_(std::move(ownName)),
      backend_(std::move(backend)) {
    if (!bus_.isConnected() || ownName_.isEmpty())
        return;
    RegisterTypes();
    new SharedVolumeAdaptor(*this);
    if (!bus_.registerObject(kObjectPath, this, QDBusConnection::ExportAdaptors))
        return;
    sharing_ = true;
    auto* names = new QDBusPendingCallWatcher(
        bus_.asyncCall(DaemonCall(QStringLiteral("ListNames")), kAskTimeoutMs), this);
    connect(names, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* answer) {
                answer->deleteLater();
                const QDBusPendingReply<QStringList> reply = *answer;
                if (reply.isError())
                    return;
                for (const QString& name : reply.value())
                    if (IsPeer(name, ownName_))
                        Ask(name);
            });
}

SharedVolumeRestore::~SharedVolumeRestore() {
    if (sharing_)
        bus_.unregisterObject(kObjectPath);
}

void SharedVolumeRestore::Ask(const QString& peer) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(peer, kObjectPath, kInterface, QStringLiteral("Exchange"));
    call << QVariant::fromValue(ToBus(backend_.Found()));
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, kAskTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* answer) {
                answer->deleteLater();
                const QDBusPendingReply<QList<Finding>> reply = *answer;
                if (!reply.isError())
                    Take(FromBus(reply.value()));
            });
}

void SharedVolumeRestore::Take(const std::vector<FoundVolume>& theirs) {
    const std::vector<FoundVolume> adopted = ToAdopt(backend_.Found(), theirs);
    if (!adopted.empty())
        backend_.Adopt(adopted);
}

std::vector<FoundVolume> SharedVolumeRestore::ToAdopt(const std::vector<FoundVolume>& mine,
                                                      const std::vector<FoundVolume>& theirs) {
    std::vector<FoundVolume> adopted;
    for (const FoundVolume& entry : theirs) {
        if (entry.Device.empty() || entry.Channels.empty())
            continue;
        // On a tie what is held stays: two players never swap.
        const auto asEarly = [&entry](const FoundVolume& held) {
            return held.Device == entry.Device && held.FoundAtNs <= entry.FoundAtNs;
        };
        if (std::any_of(mine.begin(), mine.end(), asEarly) ||
            std::any_of(adopted.begin(), adopted.end(), asEarly))
            continue;
        std::erase_if(adopted,
                      [&entry](const FoundVolume& held) { return held.Device == entry.Device; });
        adopted.push_back(entry);
    }
    return adopted;
}

bool SharedVolumeRestore::HandOver(const QDBusConnection& bus, const QString& ownName,
                                   const std::vector<FoundVolume>& found,
                                   std::chrono::milliseconds bound) {
    if (ownName.isEmpty() || !bus.isConnected())
        return false;
    const Clock::time_point deadline = Clock::now() + bound;
    // Given up before asking: of two players ending at once, the one that asks
    // later finds the other gone and restores, so that never both leave it.
    QDBusMessage release = DaemonCall(QStringLiteral("ReleaseName"));
    release << ownName;
    const QDBusPendingCall released = bus.asyncCall(release, MsLeft(deadline));
    if (!Answered(released, deadline) || released.isError())
        return false;
    const QDBusPendingCall listed =
        bus.asyncCall(DaemonCall(QStringLiteral("ListNames")), MsLeft(deadline));
    if (!Answered(listed, deadline) || listed.isError())
        return false;
    RegisterTypes();
    std::vector<QDBusPendingCall> handed;
    for (const QString& name : listed.reply().arguments().value(0).toStringList()) {
        if (!IsPeer(name, ownName))
            continue;
        QDBusMessage call = QDBusMessage::createMethodCall(name, kObjectPath, kInterface,
                                                           QStringLiteral("TakeOver"));
        call << QVariant::fromValue(ToBus(found));
        handed.push_back(bus.asyncCall(call, MsLeft(deadline)));
    }
    bool left = false;
    for (const QDBusPendingCall& call : handed) {
        // One that does not answer in time is busy, or ending itself after this
        // one has gone, and takes the device all the same. One that answers with
        // an error is no player, or had gone already.
        if (!Answered(call, deadline) || !call.isError() ||
            call.error().type() == QDBusError::NoReply ||
            call.error().type() == QDBusError::Timeout)
            left = true;
    }
    return left;
}

#include "SharedVolumeRestore.moc"
