// SPDX-License-Identifier: GPL-3.0-or-later

// The wave-out volume on a real sound server: a private PulseAudio per test, so
// that nothing here touches the machine's own sound setting.

#include "platform/PulseWaveOutVolume.h"
#include "tests/SoundServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <optional>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using std::chrono::milliseconds;

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

} // namespace

TEST(PulseVolumeMapping, EveryChannelValueSurvivesTheTripToTheServerAndBack) {
    for (std::uint32_t value = 0; value <= 0xFFFF; ++value)
        ASSERT_EQ(PulseWaveOutVolume::FromServer(PulseWaveOutVolume::ToServer(value)), value);
    EXPECT_EQ(PulseWaveOutVolume::ToServer(0xFFFF), PA_VOLUME_NORM);
    EXPECT_EQ(PulseWaveOutVolume::ToServer(0), PA_VOLUME_MUTED);
    // Louder than full scale reads as full scale.
    EXPECT_EQ(PulseWaveOutVolume::FromServer(PA_VOLUME_NORM * 2), 0xFFFFu);
}

TEST(PulseVolumeMapping, SidesTakeTheirWordAndTheMiddleTakesTheMean) {
    pa_channel_map surround{};
    surround.channels = 6;
    const pa_channel_position_t positions[] = {
        PA_CHANNEL_POSITION_FRONT_LEFT,   PA_CHANNEL_POSITION_FRONT_RIGHT,
        PA_CHANNEL_POSITION_FRONT_CENTER, PA_CHANNEL_POSITION_LFE,
        PA_CHANNEL_POSITION_SIDE_LEFT,    PA_CHANNEL_POSITION_REAR_RIGHT};
    std::copy(std::begin(positions), std::end(positions), surround.map);
    const std::uint32_t volume = Pack(0x8000, 0x2000);
    const pa_cvolume channels = PulseWaveOutVolume::ToChannels(volume, surround);
    ASSERT_EQ(channels.channels, 6);
    const std::uint32_t expected[] = {0x8000, 0x2000, 0x5000, 0x5000, 0x8000, 0x2000};
    for (unsigned i = 0; i < 6; ++i)
        EXPECT_EQ(channels.values[i], PulseWaveOutVolume::ToServer(expected[i])) << i;
    EXPECT_EQ(PulseWaveOutVolume::FromChannels(channels, surround), volume);

    pa_channel_map mono{};
    pa_channel_map_init_mono(&mono);
    const pa_cvolume one = PulseWaveOutVolume::ToChannels(volume, mono);
    ASSERT_EQ(one.channels, 1);
    EXPECT_EQ(one.values[0], PulseWaveOutVolume::ToServer(0x5000));
    EXPECT_EQ(PulseWaveOutVolume::FromChannels(one, mono), Pack(0x5000, 0x5000));
}

TEST(PulseVolume, ReadsStepsAndPutsBackTheUsersSettingBitForBit) {
    PrivateSoundServer server;
    ASSERT_TRUE(server.Running());
    // A setting the player's levels could never make: uneven, and not on the grid.
    ASSERT_TRUE(server.SetChannels({QStringLiteral("24248"), QStringLiteral("53101")}));
    const std::vector<unsigned> users = server.Channels();
    ASSERT_EQ(users, (std::vector<unsigned>{24248, 53101}));

    PulseWaveOutVolume volume(server.Address());
    std::uint32_t found = 0;
    ASSERT_TRUE(volume.GetVolume(found));
    EXPECT_EQ(found,
              Pack(PulseWaveOutVolume::FromServer(24248), PulseWaveOutVolume::FromServer(53101)));

    ASSERT_TRUE(volume.SetVolume(0x7FFF7FFF));
    EXPECT_EQ(server.Channels(), (std::vector<unsigned>{32767, 32767}));
    ASSERT_TRUE(volume.SetVolume(Pack(0xFFFF, 0x1999)));
    EXPECT_EQ(server.Channels(), (std::vector<unsigned>{65536, 6553}));
    ASSERT_TRUE(volume.SetVolume(0));
    EXPECT_EQ(server.Channels(), (std::vector<unsigned>{0, 0}));

    ASSERT_TRUE(volume.RestoreVolume());
    EXPECT_EQ(server.Channels(), users);
}

TEST(PulseVolume, AMonoDeviceTakesTheMeanAndComesBackExactly) {
    PrivateSoundServer server(QStringLiteral("channels=1"));
    ASSERT_TRUE(server.Running());
    ASSERT_TRUE(server.SetChannels({QStringLiteral("40000")}));
    PulseWaveOutVolume volume(server.Address());
    std::uint32_t found = 0;
    ASSERT_TRUE(volume.GetVolume(found));
    ASSERT_TRUE(volume.SetVolume(Pack(0x7FFF, 0x3333)));
    EXPECT_EQ(server.Channels(),
              (std::vector<unsigned>{PulseWaveOutVolume::ToServer((0x7FFF + 0x3333) / 2)}));
    ASSERT_TRUE(volume.RestoreVolume());
    EXPECT_EQ(server.Channels(), (std::vector<unsigned>{40000}));
}

TEST(PulseVolume, EveryDeviceItChangedGetsItsOwnSettingBack) {
    PrivateSoundServer server;
    ASSERT_TRUE(server.Running());
    ASSERT_TRUE(server.AddSink(QStringLiteral("headphones")));
    ASSERT_TRUE(server.SetChannels({QStringLiteral("30000"), QStringLiteral("30001")}));
    ASSERT_TRUE(server.SetChannels({QStringLiteral("20000"), QStringLiteral("20001")},
                                   QStringLiteral("headphones")));
    ASSERT_TRUE(server.SetDefaultSink(QStringLiteral("qeltest")));
    PulseWaveOutVolume volume(server.Address());
    std::uint32_t found = 0;
    ASSERT_TRUE(volume.GetVolume(found));
    ASSERT_TRUE(volume.SetVolume(0xFFFFFFFF));
    // The user switches to the headphones while the player runs.
    ASSERT_TRUE(server.SetDefaultSink(QStringLiteral("headphones")));
    ASSERT_TRUE(volume.SetVolume(0x19991999));
    ASSERT_TRUE(volume.RestoreVolume());
    EXPECT_EQ(server.Channels(), (std::vector<unsigned>{30000, 30001}));
    EXPECT_EQ(server.Channels(QStringLiteral("headphones")), (std::vector<unsigned>{20000, 20001}));
}

TEST(PulseVolume, WithoutAServerEveryCallFailsAtOnceAndChangesNothing) {
    PulseWaveOutVolume volume("unix:/nonexistent/qel/native");
    QElapsedTimer clock;
    clock.start();
    std::uint32_t found = 0x12345678;
    EXPECT_FALSE(volume.GetVolume(found));
    EXPECT_EQ(found, 0x12345678u);
    EXPECT_FALSE(volume.SetVolume(0));
    EXPECT_LT(clock.elapsed(), 500);
}

TEST(PulseVolume, AServerThatNeverAnswersCostsOneBoundThenIsLeftAlone) {
    SilentServer silent;
    PulseWaveOutVolume volume(silent.Address(), milliseconds(300));
    QElapsedTimer clock;
    clock.start();
    std::uint32_t found = 0;
    EXPECT_FALSE(volume.GetVolume(found));
    EXPECT_GE(clock.elapsed(), 250);
    EXPECT_LT(clock.elapsed(), 1500);
    clock.restart();
    for (int step = 0; step < 10; ++step)
        EXPECT_FALSE(volume.SetVolume(0x7FFF7FFF));
    EXPECT_LT(clock.elapsed(), 100);
}

TEST(PulseVolume, ALevelEqualToTheOneFoundAtStartIsSentAsALevel) {
    PrivateSoundServer server; // at full scale, as the player's own start level
    ASSERT_TRUE(server.Running());
    ASSERT_TRUE(server.AddSink(QStringLiteral("headphones")));
    ASSERT_TRUE(server.SetChannels({QStringLiteral("26214"), QStringLiteral("26214")},
                                   QStringLiteral("headphones")));
    ASSERT_TRUE(server.SetDefaultSink(QStringLiteral("qeltest")));
    PulseWaveOutVolume volume(server.Address());
    std::uint32_t found = 0;
    ASSERT_TRUE(volume.GetVolume(found));
    ASSERT_EQ(found, 0xFFFFFFFFu);
    ASSERT_TRUE(volume.SetVolume(0xFFFFFFFF));
    // Headphones plugged in, then one step down and one up.
    ASSERT_TRUE(server.SetDefaultSink(QStringLiteral("headphones")));
    ASSERT_TRUE(volume.SetVolume(0xE665E665));
    ASSERT_TRUE(volume.SetVolume(0xFFFFFFFF));
    EXPECT_EQ(server.Channels(QStringLiteral("headphones")), (std::vector<unsigned>{65536, 65536}));
    ASSERT_TRUE(volume.RestoreVolume());
    EXPECT_EQ(server.Channels(QStringLiteral("headphones")), (std::vector<unsigned>{26214, 26214}));
}

TEST(PulseVolume, AServerThatDiesAndComesBackIsFoundAgainAndGetsItsOwnSettingBack) {
    PrivateSoundServer server;
    ASSERT_TRUE(server.Running());
    ASSERT_TRUE(server.SetChannels({QStringLiteral("30000"), QStringLiteral("30000")}));
    PulseWaveOutVolume volume(server.Address());
    std::uint32_t found = 0;
    ASSERT_TRUE(volume.GetVolume(found));
    ASSERT_TRUE(volume.SetVolume(0x7FFF7FFF));
    server.Kill();
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(volume.SetVolume(0x66666666));
    EXPECT_LT(clock.elapsed(), 500);
    // It comes back with what its user has there now.
    server.Start();
    ASSERT_TRUE(server.Running());
    ASSERT_TRUE(server.SetChannels({QStringLiteral("45000"), QStringLiteral("15000")}));
    EXPECT_TRUE(volume.SetVolume(0x33333333));
    const std::vector<unsigned> level{PulseWaveOutVolume::ToServer(0x3333),
                                      PulseWaveOutVolume::ToServer(0x3333)};
    EXPECT_EQ(server.Channels(), level);
    ASSERT_TRUE(volume.RestoreVolume());
    EXPECT_EQ(server.Channels(), (std::vector<unsigned>{45000, 15000}));

    // One that comes back with the player's level remembered gets what the user
    // had before.
    ASSERT_TRUE(volume.SetVolume(0x33333333));
    server.Kill();
    server.Start();
    ASSERT_TRUE(server.Running());
    ASSERT_TRUE(server.SetChannels({QString::number(level[0]), QString::number(level[1])}));
    EXPECT_TRUE(volume.SetVolume(0x66666666));
    ASSERT_TRUE(volume.RestoreVolume());
    EXPECT_EQ(server.Channels(), (std::vector<unsigned>{45000, 15000}));
}

TEST(PulseVolume, AStoppedServerCostsOneBoundThenNoCallWaitsUntilItAnswersAgain) {
    PrivateSoundServer server;
    ASSERT_TRUE(server.Running());
    ASSERT_TRUE(server.SetChannels({QStringLiteral("41234"), QStringLiteral("23456")}));
    const milliseconds quiet(200);
    std::optional<PulseWaveOutVolume> volume(std::in_place, server.Address(), milliseconds(300),
                                             quiet);
    ASSERT_TRUE(volume->SetVolume(0x7FFF7FFF));
    server.Signal(SIGSTOP);
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(volume->SetVolume(0x66666666));
    EXPECT_GE(clock.elapsed(), 250);
    EXPECT_LT(clock.elapsed(), 1500);
    // Also once the quiet time is over: the server is still silent, and no key waits.
    QThread::msleep(2 * quiet.count());
    clock.restart();
    for (int step = 0; step < 10; ++step)
        EXPECT_FALSE(volume->SetVolume(0x66666666));
    EXPECT_LT(clock.elapsed(), 100);
    // Exit while it hangs: bounded.
    clock.restart();
    EXPECT_FALSE(volume->RestoreVolume());
    EXPECT_LT(clock.elapsed(), 1500);

    // The restore was queued and its connection is held open after the player
    // has gone: the server that goes on puts the user's level back.
    volume.reset();
    server.Signal(SIGCONT);
    clock.restart();
    const std::vector<unsigned> before{41234, 23456};
    while (server.Channels() != before && clock.elapsed() < 3000)
        QThread::msleep(20);
    EXPECT_EQ(server.Channels(), before);

    volume.emplace(server.Address(), milliseconds(300), quiet);
    clock.restart();
    bool answered = false;
    while (!answered && clock.elapsed() < 3000) {
        answered = volume->SetVolume(0x33333333);
        QThread::msleep(20);
    }
    ASSERT_TRUE(answered);
    EXPECT_EQ(server.Channels(), (std::vector<unsigned>{PulseWaveOutVolume::ToServer(0x3333),
                                                        PulseWaveOutVolume::ToServer(0x3333)}));
    ASSERT_TRUE(volume->RestoreVolume());
    EXPECT_EQ(server.Channels(), before);
}

TEST(PulseVolume, ARestoreSentToAServerThatStoppedReachesItAfterThePlayerHasGone) {
    PrivateSoundServer server;
    ASSERT_TRUE(server.Running());
    ASSERT_TRUE(server.SetChannels({QStringLiteral("30000"), QStringLiteral("30000")}));
    std::optional<PulseWaveOutVolume> volume(std::in_place, server.Address(), milliseconds(300),
                                             milliseconds(200));
    ASSERT_TRUE(volume->SetVolume(0xFFFFFFFF));
    server.Signal(SIGSTOP);
    EXPECT_FALSE(volume->RestoreVolume());
    volume.reset();
    server.Signal(SIGCONT);
    QElapsedTimer clock;
    clock.start();
    const std::vector<unsigned> before{30000, 30000};
    while (server.Channels() != before && clock.elapsed() < 3000)
        QThread::msleep(20);
    EXPECT_EQ(server.Channels(), before);
}
