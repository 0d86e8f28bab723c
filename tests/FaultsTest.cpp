// SPDX-License-Identifier: GPL-3.0-or-later

// The world changing under a playing window: files and folders going away, a
// huge folder, the sound server missing or dying.

#include "platform/OpenFailure.h"
#include "platform/SoundServer.h"
#include "tests/RobustnessSupport.h"
#include "tests/SoundServer.h"
#include "ui/StatusBar.h"

#include <QDir>
#include <QStandardPaths>

#include <atomic>
#include <chrono>
#include <thread>
#include <utility>

#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <sys/stat.h>

namespace {

// A patch of the window that counts its repaints.
class PaintProbe : public QWidget {
public:
    explicit PaintProbe(QWidget* parent) : QWidget(parent) {
        setGeometry(0, 0, 8, 8);
        show();
    }
    int paints = 0;

protected:
    void paintEvent(QPaintEvent*) override { ++paints; }
};

// The longest the window's thread took to take a call posted to it from
// elsewhere, as a click would be: it stands still while that is long.
class AnswerMeter {
public:
    AnswerMeter() {
        poster_ = std::thread([this] {
            while (!stop_) {
                const auto sent = std::chrono::steady_clock::now();
                QMetaObject::invokeMethod(
                    &receiver_,
                    [this, sent] {
                        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - sent);
                        longest_ = std::max(longest_, static_cast<qint64>(took.count()));
                    },
                    Qt::QueuedConnection);
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
    }
    ~AnswerMeter() {
        stop_ = true;
        poster_.join();
    }
    AnswerMeter(const AnswerMeter&) = delete;
    AnswerMeter& operator=(const AnswerMeter&) = delete;
    // Since the last call.
    qint64 Longest() { return std::exchange(longest_, 0); }

private:
    QObject receiver_;
    qint64 longest_ = 0;
    std::atomic<bool> stop_{false};
    std::thread poster_;
};

class Faults : public OwnFolder {
protected:
    // A 20-second clip in the folder, playing.
    void PlayLong(const QByteArray& name = "long.mpg") {
        CopyClip("a-long.mpg", name);
        Reread();
        PlayTexts({QString::fromUtf8(name), QString::fromLatin1(kGood)});
        ASSERT_TRUE(messages.Messages().empty()) << messages.LastText().toStdString();
        ASSERT_TRUE(WaitFor([&] { return form->MediaPlayer1->Position() > 0; }, 5000));
    }
    // The window keeps answering while the damaged file has its say.
    void ExpectItCarriesOn() {
        EXPECT_TRUE(TickRuns(5, 4000)) << "the tick stopped";
        if (!Idle()) {
            EXPECT_TRUE(KeysAct()) << "a key no longer acts";
        }
    }
};

} // namespace

TEST_F(Faults, ThePlayingFileDeletedTruncatedOrReplacedLeavesTheWindowAnswering) {
    PlayLong("deleted.mpg");
    ASSERT_EQ(unlink(folder.PathOf("deleted.mpg").constData()), 0);
    ExpectItCarriesOn();
    ExpectTheGoodFilePlays();

    PlayLong("truncated.mpg");
    ASSERT_EQ(truncate(folder.PathOf("truncated.mpg").constData(), 4096), 0);
    ExpectItCarriesOn();
    ExpectTheGoodFilePlays();

    PlayLong("replaced.mpg");
    folder.File("replacement", QByteArray(100000, 'r'));
    ASSERT_EQ(
        rename(folder.PathOf("replacement").constData(), folder.PathOf("replaced.mpg").constData()),
        0);
    ExpectItCarriesOn();
    ExpectTheGoodFilePlays();
    // Played again, the replacement is what it is now: no media.
    const std::size_t before = messages.Messages().size();
    PlayTexts({QStringLiteral("replaced.mpg")});
    EXPECT_EQ(messages.Messages().size(), before + 1);
    EXPECT_TRUE(Idle());
}

// Reads that would never end: a file swapped for a pipe while listed is
// refused at once; a clip followed by gigabytes of zeros
// is given up within a bound while the window goes on painting.
TEST_F(Faults, OpensThatWouldStallAreRefusedOrGivenUpWhileTheWindowPaints) {
    const QString pipe =
        QStringLiteral("The file could not be read: it is a pipe or a device, not a file.");
    CopyClip("seq-2.mpg", "swapped.mpg");
    CopyClip("a-long.mpg", "a-long.mpg");
    CopyClip("seq-2.mpg", "b-zeros.mpg");
    ASSERT_EQ(truncate(folder.PathOf("b-zeros.mpg").constData(), qint64{4} << 30), 0);
    Reread();
    ASSERT_EQ(unlink(folder.PathOf("swapped.mpg").constData()), 0);
    ASSERT_EQ(mkfifo(folder.PathOf("swapped.mpg").constData(), 0644), 0);
    {
        const char* name = "swapped.mpg";
        QElapsedTimer clock;
        clock.start();
        PlayTexts({QString::fromLatin1(name)});
        EXPECT_TRUE(WaitFor([&] { return !messages.Messages().empty(); }, 1000)) << name;
        EXPECT_LT(clock.elapsed(), 1000) << name;
        EXPECT_EQ(messages.LastText(), pipe) << name;
        EXPECT_TRUE(Idle()) << name;
    }

    PlayTexts({QStringLiteral("a-long.mpg"), QStringLiteral("b-zeros.mpg")});
    ASSERT_TRUE(WaitFor([&] { return form->MediaPlayer1->Position() > 0; }, 5000));
    PaintProbe probe(form.get());
    qint64 longestGap = 0;
    bool beating = true;
    QElapsedTimer sinceBeat;
    sinceBeat.start();
    std::function<void()> beat = [&] {
        longestGap = std::max(longestGap, sinceBeat.restart());
        probe.update();
        if (beating)
            QMetaObject::invokeMethod(form.get(), beat, Qt::QueuedConnection);
    };
    QMetaObject::invokeMethod(form.get(), beat, Qt::QueuedConnection);
    const std::size_t before = messages.Messages().size();
    QElapsedTimer clock;
    clock.start();
    form->Action4->trigger(); // Next, with the tick running
    EXPECT_LT(clock.elapsed(), 100) << "the open held the window";
    EXPECT_TRUE(WaitFor([&] { return messages.Messages().size() > before; },
                        MpvMediaService::kOpenTimeoutMs + 1500));
    beating = false;
    const int paints = probe.paints;
    EXPECT_GT(paints, 5) << "the window did not paint during the open";
    EXPECT_LT(longestGap, 500) << "the window stood still";
    ASSERT_EQ(messages.Messages().size(), before + 1);
    EXPECT_EQ(messages.LastText(), QStringLiteral("The file took too long to open."));
    EXPECT_TRUE(WaitFor([&] { return Idle(); }, 1000));
    ExpectTheGoodFilePlays();
}

TEST_F(Faults, TheShownFolderRemovedOrMadeUnreadableIsReportedAndNothingBreaks) {
    const QByteArray shown = folder.PathOf("shown");
    ASSERT_EQ(mkdir(shown.constData(), 0755), 0);
    CopyClip("seq-2.mpg", "shown/clip.mpg");
    ShowFolder(shown);
    ASSERT_EQ(form->FileListBox1->Count(), 1);

    // Unreadable: what is listed can no longer be opened, and a reread lists nothing.
    ASSERT_EQ(chmod(shown.constData(), 0), 0);
    {
        WithoutRootsRights ordinaryUser;
        const std::size_t before = messages.Messages().size();
        PlayTexts({QStringLiteral("clip.mpg")});
        EXPECT_EQ(messages.Messages().size(), before + 1) << "an unreadable file was not reported";
        EXPECT_TRUE(Idle());
        Reread();
        EXPECT_EQ(form->FileListBox1->Count(), 0);
    }
    ASSERT_EQ(chmod(shown.constData(), 0755), 0);
    Reread();
    ASSERT_EQ(form->FileListBox1->Count(), 1);

    // Removed while a file in it plays: it plays on, and the window answers.
    const std::size_t reported = messages.Messages().size();
    PlayTexts({QStringLiteral("clip.mpg")});
    ASSERT_EQ(messages.Messages().size(), reported) << messages.LastText().toStdString();
    ASSERT_EQ(unlink((shown + "/clip.mpg").constData()), 0);
    ASSERT_EQ(rmdir(shown.constData()), 0);
    ExpectItCarriesOn();
    form->Action2->trigger();
    EXPECT_TRUE(Idle());
    // Removed while shown: the stale row is reported, a reread lists nothing.
    const std::size_t before = messages.Messages().size();
    if (form->FileListBox1->Count() > 0) {
        PlayTexts({QStringLiteral("clip.mpg")});
        EXPECT_EQ(messages.Messages().size(), before + 1);
    }
    Reread();
    EXPECT_EQ(form->FileListBox1->Count(), 0);
    // And the user can go elsewhere.
    ShowFolder(folder.Path());
    ExpectTheGoodFilePlays();
}

TEST_F(Faults, AFolderOfAHundredThousandFilesListsWithinItsBoundAndPlays) {
    const QByteArray huge = folder.PathOf("huge");
    ASSERT_EQ(mkdir(huge.constData(), 0755), 0);
    for (int i = 0; i < 100000; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/clip %06d.mpg", i);
        const int fd = open((huge + name).constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        close(fd);
    }
    CopyClip("seq-3.mpg", "huge/clip 050000.mpg");
    QElapsedTimer clock;
    clock.start();
    ShowFolder(huge);
    EXPECT_LT(clock.elapsed(), 3000);
    ASSERT_EQ(form->FileListBox1->Count(), 100000);
    EXPECT_EQ(form->FileListBox1->ItemText(50000), QStringLiteral("clip 050000.mpg"));
    PlayTexts({QStringLiteral("clip 050000.mpg")});
    ASSERT_TRUE(messages.Messages().empty()) << messages.LastText().toStdString();
    EXPECT_TRUE(WaitFor([&] { return form->MediaPlayer1->Position() > 0; }, 5000));
    ExpectItCarriesOn();
    // An empty file among them is reported, and the window answers.
    form->Action2->trigger();
    PlayTexts({QStringLiteral("clip 000001.mpg")});
    EXPECT_EQ(messages.Messages().size(), 1u);
    EXPECT_TRUE(Idle());
}

namespace {

// The window on a sound server of the test's own, through the real backend.
class SoundServerFaults : public Faults {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.Running());
        qputenv("PULSE_SERVER", QByteArray::fromStdString(server.Address()));
        ASSERT_TRUE(server.SetChannels({QStringLiteral("41234"), QStringLiteral("23456")}));
        BeforeWindow();
        Faults::SetUp();
    }
    void TearDown() override {
        Faults::TearDown();
        qunsetenv("PULSE_SERVER");
    }
    virtual void BeforeWindow() {}
    std::unique_ptr<WaveOutVolume> MakeVolume() override {
        auto made = std::make_unique<SoundServer>(server.Address());
        sound = made.get();
        return made;
    }
    // Closes the window as exit does: the volume is put back.
    void CloseWindow() {
        TearDown();
        form.reset();
    }

    // Once the player's client has reached the server.
    bool Reached() {
        return WaitFor([&] { return !sound->Reached().empty(); }, 3000);
    }

    // The volume keys give their result at once, whatever the server does: the
    // plain keys while a file is open, the commands (Ctrl+Alt) always.
    void ExpectKeysAct() {
        QElapsedTimer clock;
        clock.start();
        const QString before = form->StatusBar1->PanelText(3);
        const bool open = form->MediaPlayer1->DeviceID() != 0;
        open ? QTest::keyClick(form.get(), Qt::Key_W) : form->Action10->trigger();
        EXPECT_NE(form->StatusBar1->PanelText(3), before);
        open ? QTest::keyClick(form.get(), Qt::Key_E) : form->Action9->trigger();
        EXPECT_EQ(form->StatusBar1->PanelText(3), before);
        EXPECT_LT(clock.elapsed(), 100) << "a volume key waited";
    }

    PrivateSoundServer server;
    SoundServer* sound = nullptr;
    const std::vector<unsigned> users{41234, 23456};
};

class NoSoundServerAtStart : public SoundServerFaults {
    void BeforeWindow() override { server.Kill(); }
};

} // namespace

TEST_F(NoSoundServerAtStart, PlaysSilentlyChangesNothingAndLeavesALaterServerAsItWas) {
    ASSERT_FALSE(server.Running());
    PlayLong();
    const QString level = form->StatusBar1->PanelText(3);
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 4; ++i) {
        QTest::keyClick(form.get(), Qt::Key_W);
        QTest::keyClick(form.get(), Qt::Key_R); // mute and back
        QTest::keyClick(form.get(), Qt::Key_R);
    }
    EXPECT_LT(clock.elapsed(), 3000) << "volume commands waited on a missing server";
    EXPECT_TRUE(TickRuns());
    EXPECT_GT(form->MediaPlayer1->Position(), 200);

    // The server comes up mid-run, with the user's setting: stepping changes it,
    // and exit puts it back.
    server.Start();
    ASSERT_TRUE(server.Running());
    ASSERT_TRUE(server.SetChannels({QStringLiteral("41234"), QStringLiteral("23456")}));
    ASSERT_TRUE(Reached());
    QTest::keyClick(form.get(), Qt::Key_W);
    EXPECT_NE(server.Channels(), users) << level.toStdString();
    CloseWindow();
    EXPECT_EQ(server.Channels(), users);
}

// SIGSTOP: the server's socket is there and nothing answers. Stopped while a
// file plays, while the next one opens, and at exit: the window answers within
// 0.2 s all along, the volume keys give their result at once, an open gives
// its result within its bound, and exit does not wait. The engine's own
// connection waits on the stopped server, so its picture stands meanwhile.
// (The restore sent at exit to a server that stays stopped is dropped by it
// with the closed connection.)
TEST_F(SoundServerFaults, AStoppedServerNeverHoldsTheWindowWhilePlayingOpeningOrAtExit) {
    CopyClip("a-long.mpg", "one.mpg");
    CopyClip("a-long.mpg", "two.mpg");
    Reread();
    PlayTexts({QStringLiteral("one.mpg"), QStringLiteral("two.mpg")});
    ASSERT_TRUE(WaitFor([&] { return form->MediaPlayer1->Position() > 300; }, 5000));
    ASSERT_TRUE(WaitFor([&] { return server.Channels() != users; }, 2000));
    AnswerMeter meter;
    const auto expectAnOpenGivesItsResult = [&](const std::function<void()>& open) {
        const std::size_t before = messages.Messages().size();
        QElapsedTimer clock;
        clock.start();
        open();
        EXPECT_TRUE(OpenEnded());
        EXPECT_LT(clock.elapsed(), MpvMediaService::kOpenTimeoutMs + 500);
        if (messages.Messages().size() > before)
            EXPECT_EQ(messages.LastText(), OpenFailure::NoSoundText());
        else
            EXPECT_FALSE(Idle());
    };

    server.Freeze(); // while playing
    QTest::qWait(1000);
    ExpectKeysAct();
    expectAnOpenGivesItsResult([&] { form->Action4->trigger(); });
    ExpectKeysAct();
    EXPECT_LT(meter.Longest(), 200) << "the window stood still";

    server.Thaw();
    form->Action2->trigger();
    PlayTexts({QStringLiteral("one.mpg")});
    ASSERT_TRUE(WaitFor([&] { return form->MediaPlayer1->Position() > 300; }, 8000))
        << "no play once the server went on";
    meter.Longest();
    form->Action2->trigger();
    std::thread freeze = server.FreezeAfter(std::chrono::milliseconds(30)); // during an open
    expectAnOpenGivesItsResult([&] { PlayTexts({QStringLiteral("two.mpg")}); });
    freeze.join();
    ExpectKeysAct();
    EXPECT_LT(meter.Longest(), 200) << "the window stood still";

    QElapsedTimer clock; // at exit, still stopped
    clock.start();
    CloseWindow();
    EXPECT_LT(clock.elapsed(), 1000) << "exit waited on the stopped server";
    server.Thaw();
}

namespace {

class StoppedSoundServerAtStart : public SoundServerFaults {
    void BeforeWindow() override { server.Freeze(); }
};

} // namespace

// Stopped before the player starts, the server is never reached: files play
// silently at once, and it is left as it was.
TEST_F(StoppedSoundServerAtStart, FilesPlaySilentlyAtOnceAndTheServerIsLeftAsItWas) {
    CopyClip("a-long.mpg", "long.mpg");
    Reread();
    AnswerMeter meter;
    QElapsedTimer clock;
    clock.start();
    PlayTexts({QStringLiteral("long.mpg")});
    EXPECT_LT(clock.elapsed(), 1500);
    ASSERT_TRUE(messages.Messages().empty()) << messages.LastText().toStdString();
    EXPECT_TRUE(WaitFor([&] { return form->MediaPlayer1->Position() > 300; }, 3000));
    ExpectKeysAct();
    EXPECT_LT(meter.Longest(), 200) << "the window stood still";
    clock.restart();
    CloseWindow();
    EXPECT_LT(clock.elapsed(), 1000);
    server.Thaw();
    EXPECT_EQ(server.Channels(), users);
}

// The engine plays on the server the volume reached, whatever its own
// environment would have found.
TEST_F(SoundServerFaults, TheEnginePlaysOnTheServerThePlayerReached) {
    if (PrivateSoundServer::PipeWire())
        GTEST_SKIP() << "the test's PipeWire plays no stream without its session manager";
    ASSERT_TRUE(Reached());
    qputenv("PULSE_SERVER", "unix:/nonexistent/qel/native");
    PlayLong();
    EXPECT_TRUE(WaitFor(
        [&] {
            const auto inputs = server.Pactl(
                {QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sink-inputs")});
            return inputs && !inputs->trimmed().isEmpty();
        },
        3000))
        << "no stream of the engine's on the server";
}

TEST_F(SoundServerFaults, TheServerKilledWhilePlayingAndSteppingNeverHangsTheWindow) {
    PlayLong();
    QTest::keyClick(form.get(), Qt::Key_W);
    ASSERT_NE(server.Channels(), users);
    server.Kill();
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 6; ++i)
        QTest::keyClick(form.get(), i % 2 ? Qt::Key_E : Qt::Key_W);
    EXPECT_LT(clock.elapsed(), 2000) << "volume steps waited on a dead server";
    EXPECT_TRUE(TickRuns(5, 4000));
    EXPECT_FALSE(Idle());
    // Stop and play again without a server: silently.
    form->Action2->trigger();
    PlayTexts({QString::fromLatin1(kGood)});
    EXPECT_TRUE(messages.Messages().empty()) << messages.LastText().toStdString();
    EXPECT_TRUE(WaitFor([&] { return form->MediaPlayer1->Position() > 0; }, 5000));

    // The server back, with what its user has there now: exit puts that back.
    server.Start();
    ASSERT_TRUE(server.Running());
    ASSERT_TRUE(server.SetChannels({QStringLiteral("50000"), QStringLiteral("20000")}));
    ASSERT_TRUE(Reached());
    QTest::keyClick(form.get(), Qt::Key_E);
    EXPECT_NE(server.Channels(), (std::vector<unsigned>{50000, 20000}));
    CloseWindow();
    EXPECT_EQ(server.Channels(), (std::vector<unsigned>{50000, 20000}));
}

namespace {

// PipeWire's pulse server without its session manager: it answers, takes a
// stream and never links it to a device.
class PipeWireWithoutSessionManager : public Faults {
protected:
    void SetUp() override {
        if (QStandardPaths::findExecutable(QStringLiteral("pipewire")).isEmpty())
            GTEST_SKIP() << "PipeWire is not installed (scripts/install-deps.sh test brings it)";
        server.emplace(QString(), PrivateSoundServer::Kind::PipeWire);
        ASSERT_TRUE(server->Running());
        qputenv("PULSE_SERVER", QByteArray::fromStdString(server->Address()));
        Faults::SetUp();
    }
    void TearDown() override {
        Faults::TearDown();
        qunsetenv("PULSE_SERVER");
    }
    std::unique_ptr<WaveOutVolume> MakeVolume() override {
        return std::make_unique<SoundServer>(server->Address());
    }
    std::optional<PrivateSoundServer> server;
};

} // namespace

// The file is fine: it plays silently, and only the first open pays for
// finding out that the server cannot play.
TEST_F(PipeWireWithoutSessionManager, AGoodFilePlaysSilentlyAndTheNextOpenDoesNotWaitAgain) {
    CopyClip("a-long.mpg", "long.mpg");
    Reread();
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        QElapsedTimer clock;
        clock.start();
        PlayTexts({QStringLiteral("long.mpg")});
        const qint64 opening = clock.elapsed();
        ASSERT_TRUE(messages.Messages().empty()) << messages.LastText().toStdString();
        EXPECT_TRUE(WaitFor([&] { return form->MediaPlayer1->Position() > 300; }, 3000));
        EXPECT_LT(opening, round == 0 ? 2500 : 700);
        form->Action2->trigger();
    }
}
