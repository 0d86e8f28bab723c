// SPDX-License-Identifier: GPL-3.0-or-later

// How the real program ends when it is not asked through its window: a
// termination signal at a moment when no window is up yet, the display going
// away, another player still running. Whatever the way, the user's volume
// comes back.

#include "platform/SharedVolumeRestore.h"
#include "tests/E2eSupport.h"
#include "tests/SessionBus.h"
#include "tests/SoundServer.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QDBusReply>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>

// What a player would put back on one device, as players tell one another.
using shared_volume::Finding;

namespace {

const std::vector<unsigned> kUsers{30000, 30001};

bool WaitForSink(const std::function<bool(const std::vector<unsigned>&)>& wanted) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (wanted(SinkChannels()))
            return true;
        QThread::msleep(50);
    }
    return false;
}

bool AtPlayersLevel(const std::vector<unsigned>& channels) {
    // Level 100: full scale on both channels.
    return channels.size() == 2 && channels[0] >= 65535 && channels[1] >= 65535;
}

// Variables for the programs that the test starts, put back after it.
class ScopedEnvironment {
public:
    ScopedEnvironment(std::initializer_list<std::pair<const char*, QByteArray>> values) {
        for (const auto& [name, value] : values) {
            saved_.push_back({name, qEnvironmentVariableIsSet(name), qgetenv(name)});
            qputenv(name, value);
        }
    }
    ~ScopedEnvironment() {
        for (const Saved& saved : saved_) {
            if (saved.Set)
                qputenv(saved.Name, saved.Value);
            else
                qunsetenv(saved.Name);
        }
    }

private:
    struct Saved {
        const char* Name;
        bool Set;
        QByteArray Value;
    };
    std::vector<Saved> saved_;
};

// A player's level on both channels, as the sound server holds it.
std::vector<unsigned> Level(int percent) {
    const auto channel = static_cast<unsigned>(percent * 65535 / 100);
    const auto raw = static_cast<unsigned>(std::uint64_t{channel} * 65536 / 65535);
    return {raw, raw};
}

class TwoPlayers : public ::testing::TestWithParam<PrivateSoundServer::Kind> {
protected:
    void SetUp() override {
        qDBusRegisterMetaType<Finding>();
        qDBusRegisterMetaType<QList<Finding>>();
    }

    bool WaitForLevel(const std::vector<unsigned>& wanted) {
        QElapsedTimer clock;
        clock.start();
        while (sound.Channels() != wanted && clock.elapsed() < 5000)
            QThread::msleep(50);
        return sound.Channels() == wanted;
    }
    // What the player known by that name would put back on the test's sink.
    std::vector<unsigned> ToPutBack(const QString& name) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            name, QStringLiteral("/org/qelplayer/Qel/Volume"),
            QStringLiteral("org.qelplayer.Qel.Volume"), QStringLiteral("Exchange"));
        call << QVariant::fromValue(QList<Finding>());
        const QDBusReply<QList<Finding>> reply = client.call(call, QDBus::Block, 2000);
        if (reply.isValid())
            for (const Finding& finding : reply.value())
                if (finding.Device == "qeltest")
                    return {finding.Channels.begin(), finding.Channels.end()};
        return {};
    }
    // A second player, once it holds the user's setting as what to put back.
    bool HasTheUsersSetting(const QelProcess& player) {
        const QString name =
            QStringLiteral("org.mpris.MediaPlayer2.qel.instance%1").arg(player.Pid());
        QElapsedTimer clock;
        clock.start();
        while (ToPutBack(name) != kUsers && clock.elapsed() < 10000)
            QThread::msleep(100);
        return ToPutBack(name) == kUsers;
    }

    PrivateSoundServer sound{{}, GetParam()};
    PrivateSessionBus bus;
    QDBusConnection client = bus.Connect(QStringLiteral("test"));
    ScopedEnvironment environment{{"PULSE_SERVER", QByteArray::fromStdString(sound.Address())},
                                  {"DBUS_SESSION_BUS_ADDRESS", bus.Address().toUtf8()}};
};

} // namespace

// Two players on one device, as "Open With" from a file manager starts them:
// whichever ends last puts back what the user had before the first started;
// one that ends first leaves the device to the other, at the other's level.
TEST_P(TwoPlayers, TheUsersVolumeComesBackInEitherOrderOfEndingAndOnSignalsToBoth) {
    QEL_REQUIRE_DISPLAY();
    ASSERT_TRUE(sound.Running());
    ASSERT_TRUE(client.isConnected());
    enum class Ending { FirstEndsFirst, SecondEndsFirst, BothSignalled, FirstEndsAsSecondStarts };
    for (const Ending ending : {Ending::FirstEndsFirst, Ending::SecondEndsFirst,
                                Ending::BothSignalled, Ending::FirstEndsAsSecondStarts}) {
        const int round = static_cast<int>(ending);
        ASSERT_TRUE(sound.SetChannels({QStringLiteral("30000"), QStringLiteral("30001")}));
        QelProcess first(QStringLiteral("/"));
        const auto firstWindow = first.WaitForWindow();
        ASSERT_TRUE(firstWindow) << first.StandardError().toStdString();
        ASSERT_TRUE(WaitForLevel(Level(100))) << round;
        ASSERT_TRUE(first.Key(*firstWindow, QStringLiteral("ctrl+alt+w")));
        ASSERT_TRUE(first.Key(*firstWindow, QStringLiteral("ctrl+alt+w")));
        ASSERT_TRUE(WaitForLevel(Level(80))) << round;

        QelProcess second(QStringLiteral("/"));
        if (ending == Ending::FirstEndsAsSecondStarts) {
            // Before the second is known on the bus: it must still end with
            // the user's level, not with the first one's.
            const auto secondWindow = second.WaitForWindow();
            ASSERT_TRUE(first.Signal(SIGTERM));
            EXPECT_EQ(first.WaitForExit(), 0);
            ASSERT_TRUE(secondWindow) << second.StandardError().toStdString();
            EXPECT_TRUE(WaitForLevel(Level(100))) << "the second player's level";
            ASSERT_TRUE(second.Key(*secondWindow, QStringLiteral("ctrl+alt+q")));
            EXPECT_EQ(second.WaitForExit(), 0);
            EXPECT_EQ(sound.Channels(), kUsers) << round;
            continue;
        }
        const auto secondWindow = second.WaitForWindow();
        ASSERT_TRUE(secondWindow) << second.StandardError().toStdString();
        ASSERT_TRUE(WaitForLevel(Level(100))) << round;
        ASSERT_TRUE(HasTheUsersSetting(second)) << round;

        // The one that ends first acts last, so that the device shows whose level stays.
        switch (ending) {
        case Ending::FirstEndsFirst:
            ASSERT_TRUE(first.Key(*firstWindow, QStringLiteral("ctrl+alt+w")));
            ASSERT_TRUE(WaitForLevel(Level(70)));
            ASSERT_TRUE(first.Key(*firstWindow, QStringLiteral("ctrl+alt+q")));
            EXPECT_EQ(first.WaitForExit(), 0);
            EXPECT_TRUE(WaitForLevel(Level(100))) << "the second player's level";
            ASSERT_TRUE(second.Key(*secondWindow, QStringLiteral("ctrl+alt+q")));
            EXPECT_EQ(second.WaitForExit(), 0);
            break;
        case Ending::SecondEndsFirst:
            ASSERT_TRUE(second.Key(*secondWindow, QStringLiteral("ctrl+alt+w")));
            ASSERT_TRUE(WaitForLevel(Level(90)));
            ASSERT_TRUE(second.Key(*secondWindow, QStringLiteral("ctrl+alt+q")));
            EXPECT_EQ(second.WaitForExit(), 0);
            EXPECT_TRUE(WaitForLevel(Level(80))) << "the first player's level";
            ASSERT_TRUE(first.Key(*firstWindow, QStringLiteral("ctrl+alt+q")));
            EXPECT_EQ(first.WaitForExit(), 0);
            break;
        case Ending::BothSignalled:
            // As a logout ends them: neither may leave the device to the other.
            ASSERT_TRUE(first.Signal(SIGTERM) && second.Signal(SIGTERM));
            EXPECT_EQ(first.WaitForExit(), 0);
            EXPECT_EQ(second.WaitForExit(), 0);
            break;
        case Ending::FirstEndsAsSecondStarts: // ended above
            break;
        }
        EXPECT_EQ(sound.Channels(), kUsers) << round;
    }
}

INSTANTIATE_TEST_SUITE_P(Ending, TwoPlayers,
                         ::testing::Values(PrivateSoundServer::Kind::AsTheSuiteRuns,
                                           PrivateSoundServer::Kind::PipeWire),
                         [](const auto& info) {
                             return info.param == PrivateSoundServer::Kind::PipeWire ? "PipeWire"
                                                                                     : "PulseAudio";
                         });

namespace {

// The real program on a sound server of the test's own, named as a user names it.
class EndingOnItsSoundServer : public ::testing::TestWithParam<PrivateSoundServer::Kind> {
protected:
    EndingOnItsSoundServer() {
        qunsetenv("PULSE_SERVER");
        qunsetenv("PULSE_CLIENTCONFIG");
    }
    bool WaitForLevel(const std::vector<unsigned>& wanted) {
        QElapsedTimer clock;
        clock.start();
        while (sound.Channels() != wanted && clock.elapsed() < 5000)
            QThread::msleep(50);
        return sound.Channels() == wanted;
    }
    // Started, at its level, and one step down; the window's id.
    std::optional<QString> StartAndStep(QelProcess& qel) {
        const auto window = qel.WaitForWindow();
        if (!window || !WaitForLevel(Level(100)) ||
            !qel.Key(*window, QStringLiteral("ctrl+alt+w")) || !WaitForLevel(Level(90)))
            return std::nullopt;
        return window;
    }
    // Quit ends the program within a second, with code 0.
    static void ExpectQuitWithinASecond(QelProcess& qel, const QString& window) {
        ASSERT_TRUE(qel.Key(window, QStringLiteral("ctrl+alt+q")));
        const auto exitCode = qel.WaitForExit(1000);
        ASSERT_TRUE(exitCode) << "still running a second after Quit";
        EXPECT_EQ(*exitCode, 0);
    }

    PrivateSoundServer sound{{}, GetParam()};
    ScopedEnvironment environment{{"PULSE_SERVER", QByteArray()},
                                  {"PULSE_CLIENTCONFIG", QByteArray()}};
};

} // namespace

// However the server is named, the player reaches it, its keys act there, and
// Quit puts the user's volume back there.
TEST_P(EndingOnItsSoundServer, NamedByUnixSocketTcpOrClientConfQuitPutsTheUsersVolumeBack) {
    QEL_REQUIRE_DISPLAY();
    ASSERT_TRUE(sound.Running());
    const std::optional<std::string> tcp = sound.ListenOnLoopback();
    ASSERT_TRUE(tcp.has_value());
    QTemporaryDir config;
    const QString clientConf = config.filePath(QStringLiteral("client.conf"));
    {
        QFile file(clientConf);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("autospawn = no\ndefault-server = " + QByteArray::fromStdString(*tcp) + '\n');
    }
    const std::pair<const char*, QByteArray> namings[] = {
        {"PULSE_SERVER", QByteArray::fromStdString(sound.Address())},
        {"PULSE_SERVER", QByteArray::fromStdString(*tcp)},
        {"PULSE_CLIENTCONFIG", clientConf.toLocal8Bit()}};
    for (const auto& [variable, value] : namings) {
        SCOPED_TRACE(value.toStdString());
        ASSERT_TRUE(sound.SetChannels({QStringLiteral("30000"), QStringLiteral("30001")}));
        qunsetenv("PULSE_SERVER");
        qputenv(variable, value);
        QelProcess qel(QStringLiteral("/"));
        const auto window = StartAndStep(qel);
        ASSERT_TRUE(window) << qel.StandardError().toStdString();
        ExpectQuitWithinASecond(qel, *window);
        EXPECT_EQ(sound.Channels(), kUsers);
    }
}

// A server that stops answering (SIGSTOP) or dies just before Quit does not
// hold the exit.
TEST_P(EndingOnItsSoundServer, AServerStoppedOrKilledBeforeQuitDoesNotHoldTheExit) {
    QEL_REQUIRE_DISPLAY();
    ASSERT_TRUE(sound.Running());
    qputenv("PULSE_SERVER", QByteArray::fromStdString(sound.Address()));
    for (const bool playing : {false, true})
        for (const bool killed : {false, true}) {
            SCOPED_TRACE(killed ? "killed" : "stopped");
            SCOPED_TRACE(playing ? "while a file plays" : "idle");
            if (!sound.Running())
                sound.Start();
            ASSERT_TRUE(sound.Running());
            QelProcess qel(QStringLiteral("/"), QStringList{QStringLiteral(QEL_TEST_CLIPS)});
            const auto window = StartAndStep(qel);
            ASSERT_TRUE(window) << qel.StandardError().toStdString();
            if (playing) {
                // The engine's own connection then waits on the server too.
                const auto geometry = qel.Geometry(*window);
                ASSERT_TRUE(geometry && WaitForListedFiles(*geometry));
                ASSERT_TRUE(qel.Click(*window, QPoint(400 + 5 + 30, 102 + 8)));
                ASSERT_TRUE(qel.Key(*window, QStringLiteral("ctrl+alt+x")));
                QThread::msleep(1000);
            }
            killed ? sound.Kill() : sound.Freeze();
            QThread::msleep(500);
            ASSERT_TRUE(qel.Key(*window, QStringLiteral("ctrl+alt+e")));
            ExpectQuitWithinASecond(qel, *window);
            sound.Thaw();
        }
}

// A crash puts the user's volume back from the exit deadline's thread, and
// stays a crash.
TEST_P(EndingOnItsSoundServer, ACrashPutsTheUsersVolumeBack) {
    QEL_REQUIRE_DISPLAY();
    ASSERT_TRUE(sound.Running());
    qputenv("PULSE_SERVER", QByteArray::fromStdString(sound.Address()));
    ASSERT_TRUE(sound.SetChannels({QStringLiteral("30000"), QStringLiteral("30001")}));
    QelProcess qel(QStringLiteral("/"));
    ASSERT_TRUE(StartAndStep(qel)) << qel.StandardError().toStdString();
    ASSERT_TRUE(qel.Signal(SIGSEGV));
    EXPECT_FALSE(qel.WaitForExit(3000).has_value()) << "ended as if it had not crashed";
    EXPECT_EQ(sound.Channels(), kUsers);
}

INSTANTIATE_TEST_SUITE_P(Kinds, EndingOnItsSoundServer,
                         ::testing::Values(PrivateSoundServer::Kind::AsTheSuiteRuns,
                                           PrivateSoundServer::Kind::PipeWire),
                         [](const auto& info) {
                             return info.param == PrivateSoundServer::Kind::PipeWire ? "PipeWire"
                                                                                     : "PulseAudio";
                         });

TEST(Ending, EachTerminationSignalDuringAStartUpBoxEndsItAtOnceWithTheVolumeBack) {
    QEL_REQUIRE_DISPLAY();
    for (int number : {SIGTERM, SIGINT, SIGHUP}) {
        ASSERT_TRUE(SetSinkChannels({QStringLiteral("30000"), QStringLiteral("30001")}));
        // The folder argument fails after the first show: its box runs before the main loop.
        QelProcess qel(QStringLiteral("/"), {QStringLiteral("/no/such/folder")});
        ASSERT_TRUE(qel.WaitForWindow()) << qel.StandardError().toStdString();
        ASSERT_TRUE(WaitForSink(AtPlayersLevel));
        QThread::msleep(300);
        ASSERT_TRUE(qel.Signal(number));
        const auto exitCode = qel.WaitForExit(1500);
        ASSERT_TRUE(exitCode) << "signal " << number << " left the program running";
        EXPECT_EQ(*exitCode, 0);
        EXPECT_EQ(SinkChannels(), kUsers) << "signal " << number;
    }
}

TEST(Ending, WhenTheDisplayGoesAwayTheVolumeComesBack) {
    QEL_REQUIRE_DISPLAY();
    ASSERT_TRUE(SetSinkChannels({QStringLiteral("30000"), QStringLiteral("30001")}));
    // An X server of its own, to take away.
    QProcess server;
    server.setProcessChannelMode(QProcess::SeparateChannels);
    server.start(QStringLiteral("Xvfb"),
                 {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                  QStringLiteral("0"), QStringLiteral("800x600x24"), QStringLiteral("-nolisten"),
                  QStringLiteral("tcp")});
    ASSERT_TRUE(server.waitForReadyRead(10000));
    const QByteArray display = ':' + server.readAllStandardOutput().trimmed();
    const QByteArray ownDisplay = qgetenv("DISPLAY");
    qputenv("DISPLAY", display);
    QelProcess qel(QStringLiteral("/"));
    qputenv("DISPLAY", ownDisplay);
    ASSERT_TRUE(WaitForSink(AtPlayersLevel)) << qel.StandardError().toStdString();
    QThread::msleep(300);

    server.terminate();
    ASSERT_TRUE(server.waitForFinished(5000));
    const auto exitCode = qel.WaitForExit(5000);
    ASSERT_TRUE(exitCode) << "still running without its display";
    EXPECT_EQ(*exitCode, 1) << "the toolkit ends it so";
    EXPECT_EQ(SinkChannels(), kUsers);
}

TEST(Ending, StartedInAFolderRemovedSinceItOpensOnTheFolderAbove) {
    QEL_REQUIRE_DISPLAY();
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid() && QDir(folder.path()).mkdir(QStringLiteral("gone")));
    const QString gone = folder.filePath(QStringLiteral("gone"));
    QProcess qel;
    qel.start(QStringLiteral("/bin/sh"),
              {QStringLiteral("-c"), QStringLiteral("cd \"$0\" && rmdir \"$0\" && exec \"$1\""),
               gone, QStringLiteral(QEL_BINARY)});
    ASSERT_TRUE(qel.waitForStarted(5000));
    // The error box first, then the main window; the box is answered as it comes.
    QElapsedTimer clock;
    clock.start();
    bool windowShown = false;
    while (!windowShown && clock.elapsed() < 15000 && qel.state() == QProcess::Running) {
        const auto found = RunTool(QStringLiteral("xdotool"),
                                   {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                    QStringLiteral("--pid"), QString::number(qel.processId()),
                                    QStringLiteral("--name"), QStringLiteral("^Qel$")});
        for (const QByteArray& id : found ? found->trimmed().split('\n') : QList<QByteArray>()) {
            if (id.isEmpty())
                continue;
            const auto shape =
                RunTool(QStringLiteral("xdotool"),
                        {QStringLiteral("getwindowgeometry"), QString::fromLatin1(id)});
            if (shape && shape->contains("533x343"))
                windowShown = true;
            else if (RunTool(QStringLiteral("xdotool"),
                             {QStringLiteral("windowfocus"), QStringLiteral("--sync"),
                              QString::fromLatin1(id)}))
                RunTool(QStringLiteral("xdotool"),
                        {QStringLiteral("key"), QStringLiteral("Return")});
        }
        QThread::msleep(200);
    }
    EXPECT_TRUE(windowShown) << "no main window; exit code " << qel.exitCode();
    qel.terminate();
    ASSERT_TRUE(qel.waitForFinished(3000));
    EXPECT_EQ(qel.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(qel.exitCode(), 0);
}
