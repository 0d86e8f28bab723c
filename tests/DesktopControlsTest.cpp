// SPDX-License-Identifier: GPL-3.0-or-later

// The desktop's services over a private session bus: the screen saver held
// through playback, the media controls (MPRIS) reading and driving the window,
// and the device's volume shared with the other players running.

#include "controls/DesktopControls.h"
#include "platform/MprisService.h"
#include "platform/ScreenSaverInhibitor.h"
#include "platform/SharedVolumeRestore.h"
#include "tests/PlayerFixture.h"
#include "tests/SessionBus.h"
#include "ui/StatusTexts.h"
#include "ui/Unit1.h"

#include <QAccessible>
#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusObjectPath>
#include <QDialog>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <future>
#include <limits>
#include <memory>
#include <optional>
#include <utility>

namespace {

QVariantMap AsMap(const QVariant& value) {
    if (value.canConvert<QDBusArgument>())
        return qdbus_cast<QVariantMap>(value.value<QDBusArgument>());
    return value.toMap();
}

QString TrackIdOf(const QVariantMap& metadata) {
    return metadata.value(QStringLiteral("mpris:trackid")).value<QDBusObjectPath>().path();
}

class DesktopFixture : public PlayerFixture {
protected:
    DesktopFixture()
        : PlayerFixture({{"a.mpg", {60000, 320, 240, {}}},
                         {"b.mpg", {30000, 320, 240, {}}},
                         {"c.mpg", {1000, 320, 240, {}}}}) {}

    void SetUp() override { ASSERT_FALSE(bus.Address().isEmpty()) << "dbus-daemon did not start"; }

    void StartDesktop() {
        desktop = std::make_unique<DesktopControls>(form, bus.Connect(QStringLiteral("player")));
        ASSERT_TRUE(WaitUntil([&] { return desktop->Mpris().NameSettled(); }));
    }
    void SelectAll() {
        Select({"a.mpg", "b.mpg", "c.mpg"});
        form.Action11->trigger();
    }
    void RunToEnd() {
        media.Advance(1000000);
        Tick();
    }
    // The window's events, the desktop's timer among them, for a while.
    static void Settle(int ms = 300) {
        WaitUntil([] { return false; }, ms);
    }

    PrivateSessionBus bus;
    std::unique_ptr<DesktopControls> desktop;
};

using ScreenSaver = DesktopFixture;

TEST_F(ScreenSaver, HeldWhilePlayingReleasedAtPauseEndStopAndQuit) {
    StandInScreenSaver saver(bus);
    ASSERT_TRUE(saver.Registered());
    StartDesktop();
    Select({"a.mpg", "c.mpg"});
    Settle();
    EXPECT_TRUE(saver.Calls().isEmpty()) << "idle";

    form.Action1->trigger();
    ASSERT_TRUE(WaitUntil([&] { return saver.Held() == 1; })) << "playing";
    form.Action3->trigger();
    ASSERT_TRUE(WaitUntil([&] { return saver.Held() == 0; })) << "paused";
    form.Action3->trigger();
    ASSERT_TRUE(WaitUntil([&] { return saver.Held() == 1; })) << "resumed";

    // From one file of the play list to the next the screen stays held.
    RunToEnd();
    ASSERT_EQ(FileIndex, Row("c.mpg"));
    Settle();
    EXPECT_EQ(saver.Calls().size(), 3);
    RunToEnd();
    ASSERT_TRUE(WaitUntil([&] { return saver.Held() == 0; })) << "ended";
    EXPECT_NE(form.MediaPlayer1->DeviceID(), 0) << "the last file stays open at its end";

    form.Action1->trigger();
    ASSERT_TRUE(WaitUntil([&] { return saver.Held() == 1; }));
    form.Action2->trigger();
    ASSERT_TRUE(WaitUntil([&] { return saver.Held() == 0; })) << "stopped";

    form.Action1->trigger();
    ASSERT_TRUE(WaitUntil([&] { return saver.Held() == 1; }));
    form.Action6->trigger();
    ASSERT_TRUE(WaitUntil([&] { return saver.Held() == 0; })) << "quit";

    EXPECT_EQ(saver.Calls(),
              QStringList({"Inhibit 1 Qel", "UnInhibit 1", "Inhibit 2 Qel", "UnInhibit 2",
                           "Inhibit 3 Qel", "UnInhibit 3", "Inhibit 4 Qel", "UnInhibit 4"}));
}

TEST_F(ScreenSaver, TheMediaControlsPauseAndStopReleaseItToo) {
    StandInScreenSaver saver(bus);
    StartDesktop();
    MprisClient client(bus, desktop->Mpris().BusName());
    SelectAll();
    client.Player(QStringLiteral("Play"));
    ASSERT_TRUE(WaitUntil([&] { return saver.Held() == 1; }));
    client.Player(QStringLiteral("Pause"));
    ASSERT_TRUE(WaitUntil([&] { return saver.Held() == 0; }));
    client.Player(QStringLiteral("Play"));
    ASSERT_TRUE(WaitUntil([&] { return saver.Held() == 1; }));
    // Stop turns the tick off: the command itself must bring the release.
    client.Player(QStringLiteral("Stop"));
    EXPECT_TRUE(WaitUntil([&] { return saver.Held() == 0; }));
    EXPECT_EQ(saver.Calls().size(), 4);
}

TEST_F(ScreenSaver, PauseBeforeTheGrantArrivesReleasesItAndExitReleasesAHeldOne) {
    StandInScreenSaver saver(bus, 300);
    StartDesktop();
    Select({"a.mpg"});
    form.Action1->trigger();
    desktop->Update();
    form.Action3->trigger();
    desktop->Update();
    ASSERT_TRUE(WaitUntil([&] { return saver.Calls().size() == 2; }));
    EXPECT_EQ(saver.Calls(), QStringList({"Inhibit 1 Qel", "UnInhibit 1"}));
    EXPECT_FALSE(desktop->ScreenSaver().Holding());

    form.Action3->trigger();
    ASSERT_TRUE(WaitUntil([&] { return desktop->ScreenSaver().Holding(); }));
    // The program's end, while the file still plays.
    desktop.reset();
    EXPECT_TRUE(WaitUntil([&] { return saver.Held() == 0; }));
    EXPECT_EQ(saver.Calls().last(), QStringLiteral("UnInhibit 2"));
}

TEST_F(ScreenSaver, WithoutTheServiceOrWithoutABusPlaybackGoesOnSilently) {
    StartDesktop();
    Select({"a.mpg"});
    form.Action1->trigger();
    Settle();
    form.Action3->trigger();
    Settle();
    EXPECT_FALSE(desktop->ScreenSaver().Holding());
    EXPECT_EQ(desktop->Mpris().BusName(), QStringLiteral("org.mpris.MediaPlayer2.qel"));
    desktop.reset();

    desktop = std::make_unique<DesktopControls>(
        form, QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"),
                                            QStringLiteral("no bus")));
    EXPECT_TRUE(WaitUntil([&] { return desktop->Mpris().NameSettled(); }));
    form.Action3->trigger();
    Settle();
    EXPECT_EQ(form.MediaPlayer1->Mode(), mpPlaying);
    EXPECT_FALSE(desktop->ScreenSaver().Holding());
    EXPECT_TRUE(desktop->Mpris().BusName().isEmpty());
    form.Action2->trigger();
    desktop.reset();
    QDBusConnection::disconnectFromBus(QStringLiteral("no bus"));
    EXPECT_TRUE(messages.Messages().empty());
}

class Mpris : public DesktopFixture {
protected:
    void SetUp() override {
        DesktopFixture::SetUp();
        StartDesktop();
        ASSERT_EQ(desktop->Mpris().BusName(), QStringLiteral("org.mpris.MediaPlayer2.qel"));
        client = std::make_unique<MprisClient>(bus, desktop->Mpris().BusName());
    }
    QVariant Property(const char* name) { return client->PlayerProperty(QLatin1String(name)); }
    QVariantMap Metadata() { return AsMap(Property("Metadata")); }
    bool Can(const char* name) { return Property(name).toBool(); }
    // Waits for the timer to have announced a property's new value.
    bool Announced(const char* name, const QVariant& value) {
        return WaitUntil([&] { return client->Changed().value(QLatin1String(name)) == value; });
    }
    void Run(const char* method, const QVariantList& arguments = {}) {
        const QDBusMessage reply = client->Player(QLatin1String(method), arguments);
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage)
            << method << ": " << reply.errorMessage().toStdString();
    }

    std::unique_ptr<MprisClient> client;
};

TEST_F(Mpris, RootInterfaceAndASecondPlayerUnderAnInstanceName) {
    EXPECT_EQ(client->RootProperty(QStringLiteral("Identity")).toString(), QStringLiteral("Qel"));
    EXPECT_EQ(client->RootProperty(QStringLiteral("DesktopEntry")).toString(),
              QStringLiteral("org.qelplayer.Qel"));
    EXPECT_TRUE(client->RootProperty(QStringLiteral("CanQuit")).toBool());
    EXPECT_TRUE(client->RootProperty(QStringLiteral("CanRaise")).toBool());
    EXPECT_FALSE(client->RootProperty(QStringLiteral("HasTrackList")).toBool());
    EXPECT_TRUE(client->RootProperty(QStringLiteral("SupportedMimeTypes"))
                    .toStringList()
                    .contains(QStringLiteral("video/x-ms-wmv")));

    DesktopControls second(form, bus.Connect(QStringLiteral("second player")));
    ASSERT_TRUE(WaitUntil([&] { return second.Mpris().NameSettled(); }));
    EXPECT_EQ(second.Mpris().BusName(), QStringLiteral("org.mpris.MediaPlayer2.qel.instance%1")
                                            .arg(QCoreApplication::applicationPid()));
    MprisClient secondClient(bus, second.Mpris().BusName());
    EXPECT_EQ(secondClient.RootProperty(QStringLiteral("Identity")).toString(),
              QStringLiteral("Qel"));
}

TEST_F(Mpris, PropertiesFollowThePlayListAndAreAnnounced) {
    EXPECT_EQ(Property("PlaybackStatus").toString(), QStringLiteral("Stopped"));
    EXPECT_EQ(TrackIdOf(Metadata()), QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack"));
    EXPECT_FALSE(Can("CanPlay"));
    EXPECT_FALSE(Can("CanSeek"));
    EXPECT_TRUE(Can("CanControl"));

    SelectAll();
    EXPECT_TRUE(Announced("CanPlay", true));
    form.Action1->trigger();
    EXPECT_TRUE(Announced("PlaybackStatus", QStringLiteral("Playing")));
    EXPECT_TRUE(Announced("CanGoNext", true));
    EXPECT_TRUE(Announced("CanPause", true));
    EXPECT_TRUE(Announced("CanSeek", true));
    QVariantMap metadata = Metadata();
    EXPECT_EQ(metadata.value(QStringLiteral("xesam:title")).toString(), QStringLiteral("a.mpg"));
    EXPECT_EQ(metadata.value(QStringLiteral("mpris:length")).toLongLong(), 60'000'000);
    EXPECT_EQ(metadata.value(QStringLiteral("xesam:url")).toString(),
              QStringLiteral("file://") + QString::fromUtf8(folder.PathOf("a.mpg")));
    EXPECT_EQ(TrackIdOf(AsMap(client->Changed().value(QStringLiteral("Metadata")))),
              TrackIdOf(metadata));
    EXPECT_FALSE(Can("CanGoPrevious"));
    media.Advance(2500);
    EXPECT_EQ(Property("Position").toLongLong(), 2'500'000);

    RunToEnd();
    EXPECT_TRUE(Announced("CanGoPrevious", true));
    EXPECT_EQ(Metadata().value(QStringLiteral("xesam:title")).toString(), QStringLiteral("b.mpg"));
    RunToEnd();
    RunToEnd();
    EXPECT_TRUE(Announced("PlaybackStatus", QStringLiteral("Stopped")));
    EXPECT_TRUE(Announced("CanGoNext", false));
    EXPECT_EQ(Metadata().value(QStringLiteral("xesam:title")).toString(), QStringLiteral("c.mpg"))
        << "the last file stays open at its end";

    form.Action2->trigger();
    EXPECT_TRUE(Announced("CanPause", false));
    EXPECT_TRUE(Announced("CanSeek", false));
    EXPECT_EQ(TrackIdOf(AsMap(client->Changed().value(QStringLiteral("Metadata")))),
              QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack"));
    EXPECT_FALSE(client->Changed().contains(QStringLiteral("Position")));
}

TEST_F(Mpris, TransportMethodsRunTheWindowsCommands) {
    Run("Play");
    EXPECT_EQ(form.MediaPlayer1->DeviceID(), 0) << "nothing selected: nothing to play";
    SelectAll();

    Run("Play");
    EXPECT_EQ(Panel(StatusPanel::FileName), QStringLiteral("  a.mpg"));
    EXPECT_EQ(Panel(StatusPanel::PlayList), PlayListText(1, 3));
    EXPECT_EQ(Property("PlaybackStatus").toString(), QStringLiteral("Playing"));
    EXPECT_TRUE(Announced("PlaybackStatus", QStringLiteral("Playing"))) << "and announced";
    Run("Play");
    EXPECT_EQ(form.MediaPlayer1->Mode(), mpPlaying) << "Play while playing changes nothing";
    EXPECT_EQ(FileIndex, Row("a.mpg"));

    Run("Pause");
    EXPECT_EQ(form.MediaPlayer1->Mode(), mpPaused);
    EXPECT_EQ(Property("PlaybackStatus").toString(), QStringLiteral("Paused"));
    Run("Pause");
    EXPECT_EQ(form.MediaPlayer1->Mode(), mpPaused) << "Pause while paused is no resume";
    Run("PlayPause");
    EXPECT_EQ(form.MediaPlayer1->Mode(), mpPlaying);
    Run("PlayPause");
    EXPECT_EQ(form.MediaPlayer1->Mode(), mpPaused);
    Run("Play");
    EXPECT_EQ(form.MediaPlayer1->Mode(), mpPlaying) << "Play resumes a paused file";

    Run("Next");
    EXPECT_EQ(Panel(StatusPanel::FileName), QStringLiteral("  b.mpg"));
    EXPECT_TRUE(form.ToolButton2->isEnabled());
    Run("Next");
    EXPECT_EQ(Panel(StatusPanel::PlayList), PlayListText(3, 3));
    EXPECT_FALSE(form.ToolButton6->isEnabled());
    EXPECT_FALSE(Can("CanGoNext"));
    Run("Next");
    EXPECT_EQ(FileIndex, Row("c.mpg")) << "no wrap-around";
    Run("Previous");
    EXPECT_EQ(Panel(StatusPanel::FileName), QStringLiteral("  b.mpg"));
    Run("Previous");
    EXPECT_EQ(Panel(StatusPanel::FileName), QStringLiteral("  a.mpg"));
    EXPECT_FALSE(form.ToolButton2->isEnabled());
    Run("Previous");
    EXPECT_EQ(FileIndex, Row("a.mpg"));

    // At the end of the last file, Play starts the play list again.
    Run("Next");
    Run("Next");
    RunToEnd();
    EXPECT_EQ(Property("PlaybackStatus").toString(), QStringLiteral("Stopped"));
    Run("PlayPause");
    EXPECT_EQ(FileIndex, Row("a.mpg"));
    EXPECT_EQ(form.MediaPlayer1->Mode(), mpPlaying);

    Run("Stop");
    ExpectIdleLook();
    EXPECT_EQ(Property("PlaybackStatus").toString(), QStringLiteral("Stopped"));
    Run("Stop");
    ExpectIdleLook();
    EXPECT_TRUE(messages.Messages().empty());
}

TEST_F(Mpris, SeekAndSetPositionActAsTheSeekBarsRelease) {
    SelectAll();
    form.Action1->trigger();
    media.Advance(10000);
    Settle(150);
    client->ForgetChanges();

    Run("Seek", {qlonglong(5'000'000)});
    EXPECT_EQ(form.ProgressBar1->Position(), 15000);
    EXPECT_EQ(Panel(StatusPanel::Time), TimeText(15000, 60000));
    EXPECT_EQ(form.MediaPlayer1->Position(), 15000);
    EXPECT_EQ(form.MediaPlayer1->Mode(), mpPlaying);
    EXPECT_TRUE(form.Timer1->Enabled());
    EXPECT_TRUE(WaitUntil([&] { return client->Seeks() == QList<qlonglong>{15'000'000}; }));

    Run("Seek", {qlonglong(-60'000'000)});
    EXPECT_EQ(form.MediaPlayer1->Position(), 0) << "before the start is the start";

    // A paused file plays on from the new point, as after the seek bar.
    form.Action3->trigger();
    const QString track = TrackIdOf(Metadata());
    Run("SetPosition", {QVariant::fromValue(QDBusObjectPath(track)), qlonglong(42'000'000)});
    EXPECT_EQ(form.MediaPlayer1->Position(), 42000);
    EXPECT_EQ(form.MediaPlayer1->Mode(), mpPlaying);
    Run("SetPosition",
        {QVariant::fromValue(QDBusObjectPath(QStringLiteral("/org/qelplayer/Qel/Track/9"))),
         qlonglong(1'000'000)});
    EXPECT_EQ(form.MediaPlayer1->Position(), 42000) << "another track's position is ignored";
    Run("SetPosition", {QVariant::fromValue(QDBusObjectPath(track)), qlonglong(61'000'000)});
    EXPECT_EQ(form.MediaPlayer1->Position(), 42000) << "past the end is ignored";

    Run("Seek", {qlonglong(30'000'000)});
    EXPECT_EQ(Panel(StatusPanel::FileName), QStringLiteral("  b.mpg")) << "past the end is Next";
}

TEST_F(Mpris, LoopStatusAndVolumeRunTheWindowsLoopAndVolumeCommands) {
    SelectAll();
    form.Action1->trigger();
    EXPECT_EQ(Property("LoopStatus").toString(), QStringLiteral("None"));
    ASSERT_TRUE(client->Set(QStringLiteral("LoopStatus"), QStringLiteral("Track")));
    EXPECT_TRUE(form.Single1->Checked());
    EXPECT_EQ(Panel(StatusPanel::LoopMode), QStringLiteral("Single"));
    ASSERT_TRUE(client->Set(QStringLiteral("LoopStatus"), QStringLiteral("Playlist")));
    EXPECT_FALSE(form.Single1->Checked());
    EXPECT_TRUE(form.All1->Checked());
    EXPECT_EQ(Panel(StatusPanel::LoopMode), QStringLiteral("All"));
    EXPECT_TRUE(Announced("LoopStatus", QStringLiteral("Playlist")));
    client->Set(QStringLiteral("LoopStatus"), QStringLiteral("Sideways"));
    EXPECT_TRUE(form.All1->Checked()) << "an unknown value changes nothing";
    ASSERT_TRUE(client->Set(QStringLiteral("LoopStatus"), QStringLiteral("None")));
    EXPECT_FALSE(form.All1->Checked());
    EXPECT_EQ(Panel(StatusPanel::LoopMode), QString());
    form.Action13->trigger();
    EXPECT_EQ(Property("LoopStatus").toString(), QStringLiteral("Track"))
        << "the window's own command shows";

    ASSERT_TRUE(client->Set(QStringLiteral("Volume"), 0.62));
    EXPECT_EQ(VolumeLeft, 60);
    EXPECT_EQ(VolumeRight, 60);
    EXPECT_DOUBLE_EQ(Property("Volume").toDouble(), 0.6);
    EXPECT_EQ(Panel(StatusPanel::Volume), QStringLiteral(" 60"));
    EXPECT_EQ(device.Volume, 0x99999999u) << "the device follows";
    ASSERT_TRUE(client->Set(QStringLiteral("Volume"), 7.0));
    EXPECT_EQ(VolumeLeft, 100);
    EXPECT_FALSE(form.Up1->isEnabled());
    form.Action8->trigger();
    EXPECT_DOUBLE_EQ(Property("Volume").toDouble(), 0.0) << "muted";
    client->Set(QStringLiteral("Volume"), 0.5);
    EXPECT_EQ(VolumeLeft, 100) << "muted: the volume stays, as with the keys";
}

TEST_F(Mpris, ACommandThatEndsInABoxIsAnsweredWhileTheBoxIsUp) {
    SelectAll();
    Run("Play");
    Describe("b.mpg", {0, 0, 0, QStringLiteral("Failed to recognize file format")});
    QDBusConnection caller = bus.Connect(QStringLiteral("a desktop applet"));
    const QDBusPendingCall pending = caller.asyncCall(QDBusMessage::createMethodCall(
        desktop->Mpris().BusName(), MprisService::kObjectPath,
        QStringLiteral("org.mpris.MediaPlayer2.Player"), QStringLiteral("Next")));
    bool shown = false;
    bool answeredMeanwhile = false;
    SetMessageBoxHook([&](const MessageRequest&) {
        // A real box runs its loop until the user answers it.
        shown = true;
        answeredMeanwhile = WaitUntil([&] { return pending.isFinished(); }, 1000);
        return 1;
    });
    EXPECT_TRUE(WaitUntil([&] { return shown; }, 3000));
    EXPECT_TRUE(answeredMeanwhile);
}

// The player is on the bus all through an open; a command is answered at once
// and runs once the file is open.
TEST_F(Mpris, ACommandThatComesWhileAFileOpensRunsOnceItIsOpen) {
    SelectAll();
    media.SetOpenTime(300);
    Run("Play");
    ASSERT_TRUE(WaitUntil([&] { return media.Opening(); }));
    // Clients such as playerctl check these first, from what was announced.
    for (const char* can : {"CanPlay", "CanPause", "CanGoNext", "CanGoPrevious", "CanSeek"})
        EXPECT_TRUE(Announced(can, true)) << can;
    Run("Next"); // which opens again
    Run("Pause");
    EXPECT_TRUE(WaitUntil([&] { return form.MediaPlayer1->Mode() == mpPaused; }));
    EXPECT_EQ(FileIndex, Row("b.mpg"));
}

// A shortcut, a letter, a toolbar click and a desktop command given while a file
// opens wait, with the tick, and run once each, in the order they came, once it
// is open; the window answers meanwhile and Quit does not wait.
TEST_F(Mpris, InputOfEveryKindDuringAnOpenRunsOnceInOrderAfterIt) {
    SelectAll();
    form.Action1->trigger(); // a.mpg
    media.SetOpenTime(3000);
    form.Action4->trigger(); // Next: b.mpg, which takes its time
    media.SetOpenTime(0);
    ASSERT_EQ(form.MediaPlayer1->State(), TMediaState::Opening);
    EXPECT_TRUE(form.Panel4->isVisible());
    media.ClearCommands();
    QTest::keyClick(&form, Qt::Key_X, Qt::ControlModifier | Qt::AltModifier); // Play: a.mpg
    QTest::keyClick(&form, Qt::Key_B);                                        // Next: b.mpg
    QTest::mouseClick(form.ToolButton4, Qt::LeftButton);                      // Pause
    Run("Next");                                                              // c.mpg
    Settle(500);
    Tick();
    EXPECT_TRUE(media.Commands().isEmpty()) << media.Commands().join(", ").toStdString();
    EXPECT_EQ(form.MediaPlayer1->State(), TMediaState::Opening);

    ASSERT_TRUE(WaitUntil([&] { return !media.Opening(); }, 4000));
    Settle(100);
    QStringList opensAndPauses;
    for (const QString& command : media.Commands())
        if (command.startsWith(QLatin1String("open")) || command == QLatin1String("pause"))
            opensAndPauses << command;
    EXPECT_EQ(opensAndPauses, (QStringList{OpenCommand("a.mpg"), OpenCommand("b.mpg"),
                                           QStringLiteral("pause"), OpenCommand("c.mpg")}));
    EXPECT_EQ(FileIndex, Row("c.mpg"));
    EXPECT_EQ(form.MediaPlayer1->Mode(), mpPlaying);
    EXPECT_TRUE(messages.Messages().empty()) << messages.LastText().toStdString();

    // Quit and the close box act at once: the open is given up.
    media.SetOpenTime(3000);
    form.Action5->trigger();
    ASSERT_TRUE(media.Opening());
    form.Action6->trigger();
    EXPECT_FALSE(media.Opening());
    EXPECT_EQ(form.MediaPlayer1->State(), TMediaState::Idle);
    EXPECT_TRUE(media.Commands().contains(QStringLiteral("abandon open")));
}

TEST_F(Mpris, ASeekThatComesWhileAFileOpensActsOnTheFileThatOpened) {
    SelectAll();
    form.Action1->trigger();
    media.Advance(20000);
    Settle(150);
    const QString track = TrackIdOf(Metadata());
    media.SetOpenTime(300);
    Run("Next");
    ASSERT_TRUE(WaitUntil([&] { return media.Opening(); }));
    Run("SetPosition", {QVariant::fromValue(QDBusObjectPath(track)), qlonglong(30'000'000)});
    // The file that opens is the track already, as a client reads it to seek in it.
    const QString opening = TrackIdOf(Metadata());
    EXPECT_NE(opening, track);
    Run("SetPosition", {QVariant::fromValue(QDBusObjectPath(opening)), qlonglong(7'000'000)});
    Run("Seek", {qlonglong(5'000'000)});
    // The old file's track is not this one; 5 s on is 5 s further into this one.
    EXPECT_TRUE(WaitUntil([&] { return form.MediaPlayer1->Position() == 12000; }))
        << form.MediaPlayer1->Position();
    EXPECT_EQ(FileIndex, Row("b.mpg"));
}

// As if the open had been instant: what waited for an open that ends in a box
// would have met the box, and is dropped; the desktop hears of the failure
// while the box is up.
TEST_F(Mpris, AnOpenThatEndsInABoxDropsWhatWaitedForItAndIsAnnouncedAtOnce) {
    SelectAll();
    Describe("a.mpg", {0, 0, 0, QStringLiteral("Failed to recognize file format")});
    media.SetOpenTime(300);
    std::optional<bool> announcedUnderTheBox;
    SetMessageBoxHook([&](const MessageRequest&) {
        announcedUnderTheBox = Announced("CanPause", false);
        return 1;
    });
    Run("Play");
    ASSERT_TRUE(WaitUntil([&] { return media.Opening(); }));
    ASSERT_TRUE(Announced("CanPause", true));
    Run("Next");
    QTest::keyClick(&form, Qt::Key_X, Qt::ControlModifier | Qt::AltModifier); // Play
    ASSERT_TRUE(WaitUntil([&] { return announcedUnderTheBox.has_value(); }, 2000));
    EXPECT_TRUE(*announcedUnderTheBox);
    Settle(300);
    EXPECT_EQ(media.Commands().count(OpenCommand("a.mpg")), 1)
        << media.Commands().join(", ").toStdString();
    EXPECT_FALSE(media.Commands().contains(OpenCommand("b.mpg")));
    EXPECT_EQ(form.MediaPlayer1->State(), TMediaState::Idle);
}

TEST_F(Mpris, EveryWayIntoAFailingOpenIsReportedAndThePlayerGoesOn) {
    const QString reason = QStringLiteral("Failed to recognize file format");
    const auto cannotOpen = [&](const char* name) {
        Describe(name, {0, 0, 0, reason});
    };
    const auto canOpen = [&](const char* name) {
        Describe(name, {30000, 320, 240, {}});
    };
    // Each way: one report, then the window idle and every command still answered.
    const auto expectReportedThenIdle = [&](const char* way) {
        EXPECT_EQ(messages.Messages().size(), 1u) << way;
        EXPECT_EQ(messages.LastText(), reason + QLatin1Char('.')) << way;
        Tick();
        ExpectIdleLook();
        EXPECT_EQ(Property("PlaybackStatus").toString(), QStringLiteral("Stopped")) << way;
        messages.Clear();
    };
    SelectAll();
    Run("Play");
    cannotOpen("b.mpg");
    Run("Next");
    expectReportedThenIdle("Next");

    Run("Play");
    Run("Seek", {std::numeric_limits<qlonglong>::max()}); // past the end: Next
    expectReportedThenIdle("Seek");

    canOpen("b.mpg");
    Run("Play");
    Run("Next");
    Run("Next");
    cannotOpen("b.mpg");
    Run("Previous");
    expectReportedThenIdle("Previous");

    cannotOpen("a.mpg");
    Run("PlayPause");
    expectReportedThenIdle("PlayPause");
    Run("Play");
    expectReportedThenIdle("Play");

    // A screen reader's Press on the Next button.
    canOpen("a.mpg");
    Run("Play");
    QAccessibleInterface* next = QAccessible::queryAccessibleInterface(form.ToolButton6);
    ASSERT_TRUE(next && next->actionInterface());
    next->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_TRUE(messages.Messages().empty()) << "the caller waited for the box";
    QCoreApplication::processEvents();
    expectReportedThenIdle("Press");
    // Not behind a box that is open, as the window's own input.
    QAccessibleInterface* play = QAccessible::queryAccessibleInterface(form.ToolButton3);
    ASSERT_TRUE(play && play->actionInterface());
    {
        QDialog box(&form);
        box.setModal(true);
        box.show();
        play->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QCoreApplication::processEvents();
        EXPECT_TRUE(messages.Messages().empty());
        EXPECT_EQ(form.MediaPlayer1->DeviceID(), 0);
    }

    // The commands that open nothing still act.
    ASSERT_TRUE(client->Set(QStringLiteral("Volume"), 0.5));
    EXPECT_EQ(VolumeLeft, 50);
    ASSERT_TRUE(client->Set(QStringLiteral("LoopStatus"), QStringLiteral("Track")));
    EXPECT_TRUE(form.Single1->Checked());
    Run("Stop");
    Run("Pause");
    EXPECT_TRUE(messages.Messages().empty());
}

TEST_F(Mpris, ExtremeSeekOffsetsAndVolumesStayInRangeAndRateZeroPauses) {
    SelectAll();
    form.Action1->trigger();
    media.Advance(10000);
    Run("Seek", {std::numeric_limits<qlonglong>::min()});
    EXPECT_EQ(form.MediaPlayer1->Position(), 0);
    EXPECT_EQ(FileIndex, Row("a.mpg"));
    Run("Seek", {std::numeric_limits<qlonglong>::max()});
    EXPECT_EQ(FileIndex, Row("b.mpg")) << "past the end is Next";

    ASSERT_TRUE(client->Set(QStringLiteral("Volume"), 1e300));
    EXPECT_EQ(VolumeLeft, 100) << "a huge volume is full volume, not silence";
    ASSERT_TRUE(client->Set(QStringLiteral("Volume"), -1e300));
    EXPECT_EQ(VolumeLeft, 0);

    ASSERT_TRUE(client->Set(QStringLiteral("Rate"), 1.0));
    EXPECT_EQ(form.MediaPlayer1->Mode(), mpPlaying);
    ASSERT_TRUE(client->Set(QStringLiteral("Rate"), 0.0));
    EXPECT_EQ(form.MediaPlayer1->Mode(), mpPaused);
    EXPECT_EQ(Property("PlaybackStatus").toString(), QStringLiteral("Paused"));
}

TEST_F(Mpris, QuitClosesTheWindowEvenUnderTheAboutBoxAndRaiseShowsIt) {
    form.showMinimized();
    client->Call(QStringLiteral("org.mpris.MediaPlayer2"), QStringLiteral("Raise"));
    EXPECT_FALSE(form.isMinimized());
    EXPECT_TRUE(form.isVisible());

    SelectAll();
    form.Action1->trigger();
    // Quit from the desktop while the about box runs its own loop; the box
    // must not outlive the window. Should it stay, a guard ends it after 3 s.
    bool boxWasOpen = false;
    QTimer::singleShot(50, &form, [&] {
        boxWasOpen = AboutBox->isVisible();
        client->Call(QStringLiteral("org.mpris.MediaPlayer2"), QStringLiteral("Quit"));
    });
    QTimer guard;
    guard.setSingleShot(true);
    bool guardFired = false;
    QObject::connect(&guard, &QTimer::timeout, [&] {
        guardFired = true;
        AboutBox->done(QDialog::Rejected);
    });
    guard.start(3000);
    form.Action7Execute(&form);
    EXPECT_TRUE(boxWasOpen);
    EXPECT_FALSE(guardFired) << "the about box stayed open after Quit";
    EXPECT_FALSE(AboutBox->isVisible());
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.MediaPlayer1->DeviceID(), 0) << "the close sequence ran";
}

using SharedVolume = DesktopFixture;

// The window beside another player that found the device first, though it came
// on the bus later (players started together set the device in either order).
TEST_F(SharedVolume, TheWindowKeepsTheEarliestFindingTakesTheDeviceOverAndRestoresItLast) {
    constexpr std::uint32_t kFirstFound = 0x12345678;
    QDBusConnection windowBus = bus.Connect(QStringLiteral("window"));
    ASSERT_TRUE(windowBus.registerService(MprisService::kBusName));
    form.ShareWaveVolume(windowBus, MprisService::kBusName);
    form.Action10->trigger(); // level 90: the window's own, distinct from full scale

    MemoryOutputDevice otherDevice{kFirstFound, true, {}};
    MemoryWaveOutVolume other(otherDevice);
    ASSERT_TRUE(other.SetVolume(0xFFFFFFFF));
    other.AdoptFoundVolumes({{MemoryWaveOutVolume::kDevice, {kFirstFound}, 1}});
    QDBusConnection otherBus = bus.Connect(QStringLiteral("other player"));
    const QString otherName = MprisService::kBusName + QStringLiteral(".instance2");
    ASSERT_TRUE(otherBus.registerService(otherName));
    const SharedVolumeRestore otherShared(
        otherBus, otherName,
        {[&] { return other.FoundVolumes(); },
         [&](const std::vector<FoundVolume>& found) { other.AdoptFoundVolumes(found); },
         {}});
    ASSERT_TRUE(otherShared.Sharing());

    // The other ends first, from a thread of its own as the termination deadline
    // would: the window answers, and is left with the device at its own level.
    device.Sets.clear();
    const std::vector<FoundVolume> found = other.FoundVolumes();
    auto handOver = std::async(std::launch::async, [&] {
        return SharedVolumeRestore::HandOver(otherBus, otherName, found, std::chrono::seconds(3));
    });
    ASSERT_TRUE(WaitUntil(
        [&] { return handOver.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    EXPECT_TRUE(handOver.get());
    EXPECT_FALSE(windowBus.interface()->isServiceRegistered(otherName)) << "its name given up";
    constexpr std::uint32_t kLevel90 = 0xE665E665;
    EXPECT_TRUE(WaitUntil([&] { return device.Sets == std::vector<std::uint32_t>{kLevel90}; }))
        << device.Sets.size();

    // A name of the players' kind with no player behind it does not keep the
    // device: the window is the last, and puts back the earliest finding.
    QDBusConnection impostor = bus.Connect(QStringLiteral("impostor"));
    ASSERT_TRUE(impostor.registerService(MprisService::kBusName + QStringLiteral(".impostor")));
    form.FormDestroy(&form);
    EXPECT_EQ(device.Volume, kFirstFound);
}

} // namespace
