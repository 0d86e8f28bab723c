// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// The player on the session bus as an MPRIS 2 media player, for the desktop's
// media controls and the keyboard's media keys: org.mpris.MediaPlayer2.qel (or
// an instance name when another player holds it) at /org/mpris/MediaPlayer2.
// Properties are read from the player when asked; Update() compares the
// player's state with what was last announced and signals the differences.

#include "platform/PlayerControls.h"

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QVariantMap>

class MprisService : public QObject {
    Q_OBJECT
public:
    static const QString kObjectPath;
    // The first player's name; the others' start with it and a dot.
    static const QString kBusName;

    MprisService(QDBusConnection bus, PlayerControls& controls, QString desktopEntry,
                 QObject* parent = nullptr);
    ~MprisService() override;

    // The bus name owned; empty without a bus, until the bus has answered, or
    // when no name could be had.
    QString BusName() const { return busName_; }
    // Whether the bus has answered the claim of a name (or there is no bus).
    bool NameSettled() const { return nameSettled_; }
    void Update();

    PlayerControls& Controls() { return controls_; }
    const QString& DesktopEntry() const { return desktopEntry_; }

    // The D-Bus forms of the state.
    static QString StatusName(PlaybackStatus status);
    static QString LoopName(LoopStatus loop);
    static QVariantMap Metadata(const PlayerState& state);
    static QString TrackId(const PlayerState& state);

Q_SIGNALS:
    // The claim of a name has ended: the name owned, or empty.
    void NameClaimed(const QString& busName);

private:
    // Not waited for: a bus that does not answer gives no name after the bound.
    static constexpr int kClaimTimeoutMs = 1000;

    void ClaimName(const QString& name);
    void SettleWithoutName();
    void AnnounceChanges(const PlayerState& now);

    QDBusConnection bus_;
    PlayerControls& controls_;
    QString desktopEntry_;
    QObject* object_ = nullptr; // carries the two interfaces
    QString busName_;
    bool nameSettled_ = false;
    PlayerState announced_;
    QElapsedTimer sinceAnnounced_;
};
