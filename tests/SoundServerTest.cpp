// SPDX-License-Identifier: GPL-3.0-or-later

// The player's client of a real sound server: a private PulseAudio (or PipeWire)
// per test, so that nothing here touches the machine's own sound setting.

#include "platform/SoundServer.h"
#include "tests/SoundServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <optional>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// A socket that takes connections and never says a word: a hanging server.
class SilentServer {
public:
    SilentServer() {
        path_ = dir_.filePath(QStringLiteral("silent")).toStdString();
        fd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path_.copy(address.sun_path, sizeof address.sun_path - 1);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(fd_, 16);
    }
    ~SilentServer() { ::close(fd_); }
    std::string Address() const { return "unix:" + path_; }

private:
    QTemporaryDir dir_;
    std::string path_;
    int fd_ = -1;
};

std::uint32_t Pack(std::uint32_t left, std::uint32_t right) {
    return PackVolume(left, right);
}

// Waits with the event loop running, where the component's reports arrive.
bool Until(const std::function<bool()>& condition, int timeoutMs = 5000) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents();
        QThread::msleep(5);
    }
    return true;
}

bool Knows(SoundServer& sound) {
    std::uint32_t volume = 0;
    return sound.GetVolume(volume);
}

std::vector<unsigned> Level(std::uint32_t channel) {
    return {SoundServer::ToServer(channel), SoundServer::ToServer(channel)};
}

} // namespace

TEST(SoundServerMapping, EveryChannelValueSurvivesTheTripToTheServerAndBack) {
    for (std::uint32_t value = 0; value <= 0xFFFF; ++value)
        ASSERT_EQ(SoundServer::FromServer(SoundServer::ToServer(value)), value);
    EXPECT_EQ(SoundServer::ToServer(0xFFFF), PA_VOLUME_NORM);
    EXPECT_EQ(SoundServer::ToServer(0), PA_VOLUME_MUTED);
    // Louder than full scale reads as full scale.
    EXPECT_EQ(SoundServer::FromServer(PA_VOLUME_NORM * 2), 0xFFFFu);
}

TEST(SoundServerMapping, SidesTakeTheirWordAndTheMiddleTakesTheMean) {
    pa_channel_map surround{};
    surround.channels = 6;
    const pa_channel_position_t positions[] = {
        PA_CHANNEL_POSITION_FRONT_LEFT,   PA_CHANNEL_POSITION_FRONT_RIGHT,
        PA_CHANNEL_POSITION_FRONT_CENTER, PA_CHANNEL_POSITION_LFE,
        PA_CHANNEL_POSITION_SIDE_LEFT,    PA_CHANNEL_POSITION_REAR_RIGHT};
    std::copy(std::begin(positions), std::end(positions), surround.map);
    const std::uint32_t volume = Pack(0x8000, 0x2000);
    const pa_cvolume channels = SoundServer::ToChannels(volume, surround);
    ASSERT_EQ(channels.channels, 6);
    const std::uint32_t expected[] = {0x8000, 0x2000, 0x5000, 0x5000, 0x8000, 0x2000};
    for (unsigned i = 0; i < 6; ++i)
        EXPECT_EQ(channels.values[i], SoundServer::ToServer(expected[i])) << i;
    EXPECT_EQ(SoundServer::FromChannels(channels, surround), volume);

    pa_channel_map mono{};
    pa_channel_map_init_mono(&mono);
    const pa_cvolume one = SoundServer::ToChannels(volume, mono);
    ASSERT_EQ(one.channels, 1);
    EXPECT_EQ(one.values[0], SoundServer::ToServer(0x5000));
    EXPECT_EQ(SoundServer::FromChannels(one, mono), Pack(0x5000, 0x5000));
}

// Stereo and mono devices; the user's setting uneven and off the player's grid.
TEST(SoundServer, StepsGoOutWithoutAWaitAndTheUsersSettingComesBackBitForBit) {
    for (const bool mono : {false, true}) {
        SCOPED_TRACE(mono ? "mono" : "stereo");
        PrivateSoundServer server(mono ? QStringLiteral("channels=1") : QString());
        ASSERT_TRUE(server.Running());
        const QStringList users =
            mono ? QStringList{QStringLiteral("40000")}
                 : QStringList{QStringLiteral("24248"), QStringLiteral("53101")};
        ASSERT_TRUE(server.SetChannels(users));
        const std::vector<unsigned> before = server.Channels();

        SoundServer sound(server.Address());
        ASSERT_TRUE(Until([&] { return Knows(sound); }));
        std::uint32_t found = 0;
        ASSERT_TRUE(sound.GetVolume(found));
        if (!mono) {
            EXPECT_EQ(found, Pack(SoundServer::FromServer(24248), SoundServer::FromServer(53101)));
        }
        QElapsedTimer clock;
        clock.start();
        EXPECT_TRUE(sound.SetVolume(Pack(0x7FFF, 0x3333)));
        EXPECT_LT(clock.elapsed(), 20) << "a step waited on the server";
        const std::vector<unsigned> set =
            mono ? std::vector<unsigned>{SoundServer::ToServer((0x7FFF + 0x3333) / 2)}
                 : std::vector<unsigned>{32767, SoundServer::ToServer(0x3333)};
        EXPECT_TRUE(Until([&] { return server.Channels() == set; }));
        EXPECT_TRUE(sound.SetVolume(0));
        EXPECT_TRUE(
            Until([&] { return server.Channels() == std::vector<unsigned>(set.size(), 0); }));

        ASSERT_TRUE(sound.RestoreVolume());
        EXPECT_EQ(server.Channels(), before);
    }
}

// The user switches devices while the player runs: each gets its own setting
// back, and a level equal to the one found is still sent as a level.
TEST(SoundServer, ADefaultDeviceChangedWhilePlayingGetsTheLevelAndEachDeviceItsOwnBack) {
    PrivateSoundServer server; // at full scale, as the player's own start level
    ASSERT_TRUE(server.Running());
    ASSERT_TRUE(server.AddSink(QStringLiteral("headphones")));
    ASSERT_TRUE(server.SetChannels({QStringLiteral("20000"), QStringLiteral("20001")},
                                   QStringLiteral("headphones")));
    ASSERT_TRUE(server.SetDefaultSink(QStringLiteral("qeltest")));
    const std::vector<unsigned> main = server.Channels();
    SoundServer sound(server.Address());
    ASSERT_TRUE(Until([&] { return Knows(sound); }));
    sound.SetVolume(0xFFFFFFFF);
    sound.SetVolume(0x7FFF7FFF);
    ASSERT_TRUE(Until([&] { return server.Channels() == Level(0x7FFF); }));

    ASSERT_TRUE(server.SetDefaultSink(QStringLiteral("headphones")));
    sound.SetVolume(0xE665E665);
    sound.SetVolume(0xFFFFFFFF);
    EXPECT_TRUE(Until([&] {
        return server.Channels(QStringLiteral("headphones")) == std::vector<unsigned>{65536, 65536};
    }));
    EXPECT_EQ(server.Channels(), Level(0x7FFF)) << "the step went to the old device";
    ASSERT_TRUE(sound.RestoreVolume());
    EXPECT_EQ(server.Channels(), main);
    EXPECT_EQ(server.Channels(QStringLiteral("headphones")), (std::vector<unsigned>{20000, 20001}));
}

// However the user names the server, the client reaches that one and says which,
// for the engine to play there too.
TEST(SoundServer, NamedByUnixSocketLoopbackTcpOrClientConfItIsReachedAndRestoredThere) {
    PrivateSoundServer server;
    ASSERT_TRUE(server.Running());
    const std::optional<std::string> tcp = server.ListenOnLoopback();
    ASSERT_TRUE(tcp.has_value());
    QTemporaryDir config;
    const QString clientConf = config.filePath(QStringLiteral("client.conf"));
    {
        QFile file(clientConf);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("autospawn = no\ndefault-server = ") +
                   QByteArray::fromStdString(*tcp) + '\n');
    }
    struct Naming {
        const char* Name;
        std::string Server;
        QByteArray ClientConf;
    };
    for (const Naming& naming : {Naming{"unix", server.Address(), {}}, Naming{"tcp", *tcp, {}},
                                 Naming{"client.conf", {}, clientConf.toLocal8Bit()}}) {
        SCOPED_TRACE(naming.Name);
        ASSERT_TRUE(server.SetChannels({QStringLiteral("30000"), QStringLiteral("30001")}));
        if (!naming.ClientConf.isEmpty())
            qputenv("PULSE_CLIENTCONFIG", naming.ClientConf);
        SoundServer sound(naming.Server);
        qunsetenv("PULSE_CLIENTCONFIG");
        ASSERT_TRUE(Until([&] { return Knows(sound); }));
        const std::string reached = sound.Reached();
        if (naming.Server.empty())
            EXPECT_EQ(reached, *tcp);
        else
            EXPECT_TRUE(naming.Server.ends_with(reached)) << reached;
        sound.SetVolume(0x33333333);
        EXPECT_TRUE(Until([&] { return server.Channels() == Level(0x3333); }));
        ASSERT_TRUE(sound.RestoreVolume());
        EXPECT_EQ(server.Channels(), (std::vector<unsigned>{30000, 30001}));
    }
}

TEST(SoundServer, WithoutAServerOrWithOneThatNeverSpeaksNoCallWaitsAndNothingChanges) {
    SilentServer silent;
    for (const std::string& address :
         {std::string("unix:/nonexistent/qel/native"), silent.Address()}) {
        SCOPED_TRACE(address);
        SoundServer sound(address);
        QThread::msleep(600); // long enough to have connected, or to have tried again
        QElapsedTimer clock;
        clock.start();
        std::uint32_t found = 0x12345678;
        EXPECT_FALSE(sound.GetVolume(found));
        EXPECT_EQ(found, 0x12345678u);
        for (int step = 0; step < 10; ++step)
            EXPECT_FALSE(sound.SetVolume(0x7FFF7FFF));
        EXPECT_FALSE(sound.CanPlayNow());
        EXPECT_TRUE(sound.Reached().empty());
        EXPECT_TRUE(sound.RestoreVolume()); // nothing was changed
        EXPECT_LT(clock.elapsed(), 50);
    }
}

// SIGSTOP: the socket is there and nothing answers. Each call returns at once,
// the stop is reported within a second, and the server that goes on gets the
// player's last level, then the user's setting at the restore.
TEST(SoundServer, AStoppedServerIsReportedNoCallWaitsAndItGetsTheLastLevelWhenItGoesOn) {
    PrivateSoundServer server;
    ASSERT_TRUE(server.Running());
    ASSERT_TRUE(server.SetChannels({QStringLiteral("41234"), QStringLiteral("23456")}));
    SoundServer sound(server.Address());
    std::vector<bool> reports;
    QObject::connect(&sound, &SoundServer::AnsweringChanged,
                     [&](bool answering) { reports.push_back(answering); });
    ASSERT_TRUE(Until([&] { return Knows(sound); }));
    sound.SetVolume(0x7FFF7FFF);
    ASSERT_TRUE(Until([&] { return server.Channels() == Level(0x7FFF); }));
    QCoreApplication::processEvents();
    reports.clear();

    server.Freeze();
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(Until([&] { return !reports.empty(); }, 2000)) << "the stop was not seen";
    EXPECT_LT(clock.elapsed(), 1200);
    EXPECT_EQ(reports, std::vector<bool>{false});
    clock.restart();
    for (int step = 0; step < 10; ++step)
        sound.SetVolume(step % 2 ? 0x66666666 : 0x33333333);
    std::uint32_t known = 0;
    EXPECT_TRUE(sound.GetVolume(known));
    EXPECT_FALSE(sound.CanPlayNow());
    EXPECT_LT(clock.elapsed(), 50) << "calls waited on the stopped server";

    server.Thaw();
    EXPECT_TRUE(Until([&] { return reports.size() == 2 && reports[1]; }, 3000));
    EXPECT_TRUE(Until([&] { return server.Channels() == Level(0x6666); }));
    clock.restart();
    ASSERT_TRUE(sound.RestoreVolume());
    EXPECT_LT(clock.elapsed(), 300);
    EXPECT_EQ(server.Channels(), (std::vector<unsigned>{41234, 23456}));
}

// A server killed and started again is a new one: what its device holds then is
// the user's, unless it came back with the player's level.
TEST(SoundServer, AServerThatDiesAndComesBackIsReachedAgainAndGetsItsOwnSettingBack) {
    PrivateSoundServer server;
    ASSERT_TRUE(server.Running());
    ASSERT_TRUE(server.SetChannels({QStringLiteral("30000"), QStringLiteral("30000")}));
    SoundServer sound(server.Address());
    ASSERT_TRUE(Until([&] { return Knows(sound); }));
    sound.SetVolume(0x7FFF7FFF);
    ASSERT_TRUE(Until([&] { return server.Channels() == Level(0x7FFF); }));
    server.Kill();
    ASSERT_TRUE(Until([&] { return !Knows(sound); }, 2000));
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(sound.SetVolume(0x66666666));
    EXPECT_LT(clock.elapsed(), 20);

    // It comes back with what its user has there now.
    server.Start();
    ASSERT_TRUE(server.Running());
    ASSERT_TRUE(server.SetChannels({QStringLiteral("45000"), QStringLiteral("15000")}));
    ASSERT_TRUE(Until([&] { return Knows(sound) && sound.SetVolume(0x33333333); }));
    EXPECT_TRUE(Until([&] { return server.Channels() == Level(0x3333); }));
    ASSERT_TRUE(sound.RestoreVolume());
    EXPECT_EQ(server.Channels(), (std::vector<unsigned>{45000, 15000}));

    // One that comes back with the player's level gets what the user had before.
    sound.SetVolume(0x33333333);
    ASSERT_TRUE(Until([&] { return server.Channels() == Level(0x3333); }));
    server.Kill();
    ASSERT_TRUE(Until([&] { return !Knows(sound); }, 2000));
    server.Start();
    ASSERT_TRUE(server.Running());
    ASSERT_TRUE(
        server.SetChannels({QString::number(Level(0x3333)[0]), QString::number(Level(0x3333)[1])}));
    ASSERT_TRUE(Until([&] { return Knows(sound) && sound.SetVolume(0x66666666); }));
    EXPECT_TRUE(Until([&] { return server.Channels() == Level(0x6666); }));
    ASSERT_TRUE(sound.RestoreVolume());
    EXPECT_EQ(server.Channels(), (std::vector<unsigned>{45000, 15000}));
}
