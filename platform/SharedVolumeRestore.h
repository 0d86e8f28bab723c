// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// Players running at once share what to put back on the output devices: what
// they held before the first player changed them. The players find one another
// on the session bus by their media-control names; a newcomer and each player
// already running tell each other what they found, and of each device the
// earliest finding wins. The last player to end puts it back; one that ends
// while another runs hands the device over to it instead.

#include "platform/WaveOutVolume.h"

#include <QByteArray>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <vector>

namespace shared_volume {

// One device's finding as it travels on the bus: (ay au x).
struct Finding {
    QByteArray Device;
    QList<uint> Channels;
    qint64 FoundAtNs = 0;
};

} // namespace shared_volume

Q_DECLARE_METATYPE(shared_volume::Finding)

namespace shared_volume {

inline QDBusArgument& operator<<(QDBusArgument& argument, const Finding& finding) {
    argument.beginStructure();
    argument << finding.Device << finding.Channels << finding.FoundAtNs;
    argument.endStructure();
    return argument;
}

inline const QDBusArgument& operator>>(const QDBusArgument& argument, Finding& finding) {
    argument.beginStructure();
    argument >> finding.Device >> finding.Channels >> finding.FoundAtNs;
    argument.endStructure();
    return argument;
}

} // namespace shared_volume

class SharedVolumeAdaptor;

class SharedVolumeRestore : public QObject {
    Q_OBJECT
public:
    // The player's volume backend, as its owner lets it be reached.
    struct Backend {
        std::function<std::vector<FoundVolume>()> Found;
        std::function<void(const std::vector<FoundVolume>&)> Adopt;
        // Another player has left the device to this one: set its own level again.
        std::function<void()> TakeOver;
    };
    static const QString kObjectPath;
    static const QString kInterface;

    // ownName: the player's media-control name. Without it, or without a bus,
    // nothing is shared. The players already running are asked at once; nothing
    // waits for their answers.
    SharedVolumeRestore(QDBusConnection bus, QString ownName, Backend backend,
                        QObject* parent = nullptr);
    ~SharedVolumeRestore() override;

    bool Sharing() const { return sharing_; }

    // At exit: gives ownName up first, then hands found over to the players still
    // running. True when one is left with the device; false when none is, or the
    // bus did not answer within bound, and the caller restores. Any thread; runs
    // no event loop and never waits past bound.
    static bool HandOver(const QDBusConnection& bus, const QString& ownName,
                         const std::vector<FoundVolume>& found, std::chrono::milliseconds bound);

    // What of theirs to adopt: each device's earliest finding, where it is
    // earlier than mine or I have none.
    static std::vector<FoundVolume> ToAdopt(const std::vector<FoundVolume>& mine,
                                            const std::vector<FoundVolume>& theirs);

private:
    friend class SharedVolumeAdaptor;
    void Ask(const QString& peer);
    void Take(const std::vector<FoundVolume>& theirs);

    QDBusConnection bus_;
    QString ownName_;
    Backend backend_;
    bool sharing_ = false;
};
