// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/MprisService.h"

#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

namespace {

const QString kRootInterface = QStringLiteral("org.mpris.MediaPlayer2");
const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kTrackPrefix = QStringLiteral("/org/qelplayer/Qel/Track/");
const QString kNoTrack = QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack");
// A position further than this from where playing on would have taken it is a seek.
constexpr qint64 kSeekToleranceUs = 1'500'000;

// The raw bytes of a path as a file URL; names that are not UTF-8 survive.
QString FileUrl(const QByteArray& path) {
    return QStringLiteral("file://") + QString::fromLatin1(path.toPercentEncoding("/"));
}

} // namespace

// The org.mpris.MediaPlayer2 interface.
class MprisRootAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ CanQuit)
    Q_PROPERTY(bool CanRaise READ CanRaise)
    Q_PROPERTY(bool Fullscreen READ Fullscreen)
    Q_PROPERTY(bool CanSetFullscreen READ CanSetFullscreen)
    Q_PROPERTY(bool HasTrackList READ HasTrackList)
    Q_PROPERTY(QString Identity READ Identity)
    Q_PROPERTY(QString DesktopEntry READ DesktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ SupportedUriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ SupportedMimeTypes)
public:
    MprisRootAdaptor(QObject* object, MprisService& service)
        : QDBusAbstractAdaptor(object), service_(service) {}

    bool CanQuit() const { return true; }
    bool CanRaise() const { return true; }
    bool Fullscreen() const { return false; }
    bool CanSetFullscreen() const { return false; }
    bool HasTrackList() const { return false; }
    QString Identity() const { return QStringLiteral("Qel"); }
    QString DesktopEntry() const { return service_.DesktopEntry(); }
    // Files are chosen in the window's browser, not handed in by address.
    QStringList SupportedUriSchemes() const { return {}; }
    QStringList SupportedMimeTypes() const {
        return {QStringLiteral("video/mpeg"), QStringLiteral("video/x-mpeg"),
                QStringLiteral("video/x-ms-wmv"), QStringLiteral("video/x-ms-asf"),
                QStringLiteral("application/vnd.ms-asf")};
    }

public Q_SLOTS:
    void Raise() { service_.Controls().Raise(); }
    void Quit() { service_.Controls().Quit(); }

private:
    MprisService& service_;
};

// The org.mpris.MediaPlayer2.Player interface.
class MprisPlayerAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ PlaybackStatus)
    Q_PROPERTY(QString LoopStatus READ LoopStatus WRITE SetLoopStatus)
    Q_PROPERTY(double Rate READ Rate WRITE SetRate)
    Q_PROPERTY(double MinimumRate READ Rate)
    Q_PROPERTY(double MaximumRate READ Rate)
    Q_PROPERTY(QVariantMap Metadata READ Metadata)
    Q_PROPERTY(double Volume READ Volume WRITE SetVolume)
    Q_PROPERTY(qlonglong Position READ Position)
    Q_PROPERTY(bool CanGoNext READ CanGoNext)
    Q_PROPERTY(bool CanGoPrevious READ CanGoPrevious)
    Q_PROPERTY(bool CanPlay READ CanPlay)
    Q_PROPERTY(bool CanPause READ CanPause)
    Q_PROPERTY(bool CanSeek READ CanSeek)
    Q_PROPERTY(bool CanControl READ CanControl)
public:
    MprisPlayerAdaptor(QObject* object, MprisService& service)
        : QDBusAbstractAdaptor(object), service_(service) {}

    QString PlaybackStatus() const { return MprisService::StatusName(State().Playback); }
    QString LoopStatus() const { return MprisService::LoopName(State().Loop); }
    void SetLoopStatus(const QString& name) {
        if (name == QLatin1String("None"))
            Run([](PlayerControls& controls) { controls.SetLoop(LoopStatus::None); });
        else if (name == QLatin1String("Track"))
            Run([](PlayerControls& controls) { controls.SetLoop(LoopStatus::Track); });
        else if (name == QLatin1String("Playlist"))
            Run([](PlayerControls& controls) { controls.SetLoop(LoopStatus::Playlist); });
    }
    // Playback runs at its own speed only; a rate of 0 is a pause, as clients
    // are told to expect.
    double Rate() const { return 1.0; }
    void SetRate(double rate) {
        if (rate == 0.0)
            Run([](PlayerControls& controls) { controls.Pause(); });
    }
    QVariantMap Metadata() const { return MprisService::Metadata(State()); }
    double Volume() const { return State().Volume; }
    void SetVolume(double volume) {
        if (std::isfinite(volume))
            Run([volume](PlayerControls& controls) { controls.SetVolume(volume); });
    }
    qlonglong Position() const { return State().PositionUs; }
    bool CanGoNext() const { return State().CanGoNext; }
    bool CanGoPrevious() const { return State().CanGoPrevious; }
    bool CanPlay() const { return State().CanPlay; }
    bool CanPause() const { return State().CanPause; }
    bool CanSeek() const { return State().CanSeek; }
    bool CanControl() const { return true; }

public Q_SLOTS:
    void Next() {
        Run([](PlayerControls& controls) { controls.Next(); });
    }
    void Previous() {
        Run([](PlayerControls& controls) { controls.Previous(); });
    }
    void Pause() {
        Run([](PlayerControls& controls) { controls.Pause(); });
    }
    void PlayPause() {
        Run([](PlayerControls& controls) { controls.PlayPause(); });
    }
    void Stop() {
        Run([](PlayerControls& controls) { controls.Stop(); });
    }
    void Play() {
        Run([](PlayerControls& controls) { controls.Play(); });
    }
    // Both are measured against the file that plays when they run, which may be
    // another than when they came.
    void Seek(qlonglong offset) {
        Run([offset](PlayerControls& controls) {
            const PlayerState state = controls.State();
            if (!state.CanSeek)
                return;
            // Past the end is the next file; before the start is the start. The
            // offset is compared, not added: a client may send any 64-bit value.
            if (offset > state.LengthUs - state.PositionUs)
                controls.Next();
            else
                controls.SeekTo(offset < -state.PositionUs ? 0 : state.PositionUs + offset);
        });
    }
    void SetPosition(const QDBusObjectPath& track, qlonglong position) {
        Run([track = track.path(), position](PlayerControls& controls) {
            const PlayerState state = controls.State();
            if (state.CanSeek && track == MprisService::TrackId(state) && position >= 0 &&
                position <= state.LengthUs)
                controls.SeekTo(position);
        });
    }
    void OpenUri(const QString&) {}

Q_SIGNALS:
    void Seeked(qlonglong position);

private:
    PlayerState State() const { return service_.Controls().State(); }
    // A command, then what it changed is announced at once. It runs once the
    // caller has its answer: a command may open a box, whose loop would hold
    // the answer until the user closes it.
    template <typename Command> void Run(Command command) {
        QMetaObject::invokeMethod(
            this,
            [this, command] {
                service_.Controls().InTurn([this, command] {
                    command(service_.Controls());
                    service_.Update();
                });
            },
            Qt::QueuedConnection);
    }

    MprisService& service_;
};

const QString MprisService::kObjectPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString MprisService::kBusName = QStringLiteral("org.mpris.MediaPlayer2.qel");

MprisService::MprisService(QDBusConnection bus, PlayerControls& controls, QString desktopEntry,
                           QObject* parent)
    : QObject(parent), bus_(std::move(bus)), controls_(controls),
      desktopEntry_(std::move(desktopEntry)) {
    announced_ = controls_.State();
    sinceAnnounced_.start();
    if (!bus_.isConnected()) {
        SettleWithoutName();
        return;
    }
    object_ = new QObject(this);
    new MprisRootAdaptor(object_, *this);
    new MprisPlayerAdaptor(object_, *this);
    if (!bus_.registerObject(kObjectPath, object_, QDBusConnection::ExportAdaptors)) {
        SettleWithoutName();
        return;
    }
    ClaimName(kBusName);
}

MprisService::~MprisService() {
    // Not waited for: a bus that does not answer must not hold the exit, and
    // the name goes with the connection anyway.
    if (!busName_.isEmpty() && bus_.interface())
        bus_.interface()->asyncCall(QStringLiteral("ReleaseName"), busName_);
    if (object_)
        bus_.unregisterObject(kObjectPath);
}

void MprisService::SettleWithoutName() {
    QMetaObject::invokeMethod(
        this,
        [this] {
            nameSettled_ = true;
            Q_EMIT NameClaimed(QString());
        },
        Qt::QueuedConnection);
}

void MprisService::ClaimName(const QString& name) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("RequestName"));
    constexpr uint kDoNotQueue = 4;
    call << name << kDoNotQueue;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, kClaimTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, name](QDBusPendingCallWatcher* answer) {
                answer->deleteLater();
                const QDBusPendingReply<uint> reply = *answer;
                constexpr uint kPrimaryOwner = 1;
                if (reply.isValid() && reply.value() == kPrimaryOwner) {
                    busName_ = name;
                } else if (reply.isValid() && name == kBusName) {
                    // Another player holds the first name: this one takes its own.
                    ClaimName(kBusName + QStringLiteral(".instance") +
                              QString::number(QCoreApplication::applicationPid()));
                    return;
                }
                nameSettled_ = true;
                Q_EMIT NameClaimed(busName_);
            });
}

QString MprisService::StatusName(PlaybackStatus status) {
    switch (status) {
    case PlaybackStatus::Playing:
        return QStringLiteral("Playing");
    case PlaybackStatus::Paused:
        return QStringLiteral("Paused");
    case PlaybackStatus::Stopped:
        break;
    }
    return QStringLiteral("Stopped");
}

QString MprisService::LoopName(LoopStatus loop) {
    switch (loop) {
    case LoopStatus::Track:
        return QStringLiteral("Track");
    case LoopStatus::Playlist:
        return QStringLiteral("Playlist");
    case LoopStatus::None:
        break;
    }
    return QStringLiteral("None");
}

QString MprisService::TrackId(const PlayerState& state) {
    return state.Track < 0 ? kNoTrack : kTrackPrefix + QString::number(state.Track);
}

QVariantMap MprisService::Metadata(const PlayerState& state) {
    QVariantMap metadata;
    metadata.insert(QStringLiteral("mpris:trackid"),
                    QVariant::fromValue(QDBusObjectPath(TrackId(state))));
    if (state.Track < 0)
        return metadata;
    metadata.insert(QStringLiteral("mpris:length"), QVariant::fromValue(qlonglong(state.LengthUs)));
    metadata.insert(QStringLiteral("xesam:title"), state.Title);
    metadata.insert(QStringLiteral("xesam:url"), FileUrl(state.Path));
    return metadata;
}

void MprisService::Update() {
    const PlayerState now = controls_.State();
    if (object_)
        AnnounceChanges(now);
    announced_ = now;
    sinceAnnounced_.restart();
}

void MprisService::AnnounceChanges(const PlayerState& now) {
    const PlayerState& was = announced_;
    QVariantMap changed;
    if (now.Playback != was.Playback)
        changed.insert(QStringLiteral("PlaybackStatus"), StatusName(now.Playback));
    if (now.Loop != was.Loop)
        changed.insert(QStringLiteral("LoopStatus"), LoopName(now.Loop));
    if (now.Track != was.Track || now.Title != was.Title || now.Path != was.Path ||
        now.LengthUs != was.LengthUs)
        changed.insert(QStringLiteral("Metadata"), Metadata(now));
    if (now.Volume != was.Volume)
        changed.insert(QStringLiteral("Volume"), now.Volume);
    const std::pair<const char*, bool PlayerState::*> flags[] = {
        {"CanPlay", &PlayerState::CanPlay},     {"CanPause", &PlayerState::CanPause},
        {"CanGoNext", &PlayerState::CanGoNext}, {"CanGoPrevious", &PlayerState::CanGoPrevious},
        {"CanSeek", &PlayerState::CanSeek},
    };
    for (const auto& [name, flag] : flags)
        if (now.*flag != was.*flag)
            changed.insert(QLatin1String(name), now.*flag);
    if (!changed.isEmpty()) {
        QDBusMessage signal = QDBusMessage::createSignal(
            kObjectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
            QStringLiteral("PropertiesChanged"));
        signal << kPlayerInterface << changed << QStringList();
        bus_.send(signal);
    }

    // Position is not announced as it runs; a jump is.
    if (now.Track >= 0 && now.Track == was.Track && now.Path == was.Path) {
        const qint64 expected =
            was.PositionUs +
            (was.Playback == PlaybackStatus::Playing ? sinceAnnounced_.elapsed() * 1000 : 0);
        if (std::llabs(now.PositionUs - expected) > kSeekToleranceUs) {
            QDBusMessage seeked =
                QDBusMessage::createSignal(kObjectPath, kPlayerInterface, QStringLiteral("Seeked"));
            seeked << qlonglong(now.PositionUs);
            bus_.send(seeked);
        }
    }
}

#include "MprisService.moc"
