// SPDX-License-Identifier: GPL-3.0-or-later

// The real program driven from the keyboard through the X server, with the
// test command's sound server: what the user does, what the sink does.

#include "tests/E2eSupport.h"
#include "tests/SessionBus.h"

#include <QElapsedTimer>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <memory>
#include <signal.h>

namespace {

// Where the seek bar's inside lies in the client area, and how much of it is filled.
double SeekBarFill(const QImage& window) {
    int filled = 0;
    for (int x = 5; x < 528; ++x) {
        const QColor c = window.pixelColor(x, 312);
        if (c.blue() > 140 && c.red() < 120)
            ++filled;
    }
    return filled / 523.0;
}

bool IsPurple(QColor c) {
    return c.red() > 100 && c.red() < 160 && c.blue() > 100 && c.blue() < 160 && c.green() < 40;
}

unsigned ServerValue(int level) {
    const unsigned channel = static_cast<unsigned>(level * 65535 / 100);
    return static_cast<unsigned>(static_cast<unsigned long long>(channel) * 65536 / 65535);
}

std::vector<unsigned> Level(int level) {
    return {ServerValue(level), ServerValue(level)};
}

class KeyboardPlayer : public ::testing::Test {
protected:
    void SetUp() override {
        QEL_REQUIRE_DISPLAY();
        // The user's setting: uneven, so that a restore by level would show.
        ASSERT_TRUE(SetSinkChannels({QStringLiteral("30000"), QStringLiteral("30001")}));
        users = SinkChannels();
        ASSERT_EQ(users, (std::vector<unsigned>{30000, 30001}));
        // Started elsewhere, pointed at the clips by its argument.
        qel = std::make_unique<QelProcess>(QStringLiteral("/"),
                                           QStringList{QStringLiteral(QEL_TEST_CLIPS)});
        const auto found = qel->WaitForWindow();
        ASSERT_TRUE(found) << qel->StandardError().toStdString();
        window = *found;
        const auto where = qel->Geometry(window);
        ASSERT_TRUE(where);
        geometry = *where;
    }

    QImage Window() const { return Screenshot().copy(geometry); }

    // Polls the screen until the window shows what is wanted.
    bool WaitForWindow(const std::function<bool(const QImage&)>& wanted, int timeoutMs = 4000) {
        for (int waited = 0; waited < timeoutMs; waited += 100) {
            if (wanted(Window()))
                return true;
            QThread::msleep(100);
        }
        return false;
    }
    bool WaitForSink(const std::vector<unsigned>& wanted) {
        for (int attempt = 0; attempt < 30; ++attempt) {
            if (SinkChannels() == wanted)
                return true;
            QThread::msleep(50);
        }
        return false;
    }

    // The first two files of the list, played.
    void PlayTheFirstTwo() {
        ASSERT_TRUE(WaitForListedFiles(geometry));
        ASSERT_TRUE(qel->Click(window, QPoint(400 + 5 + 30, 102 + 8)));
        ASSERT_TRUE(qel->Key(window, QStringLiteral("shift+Down")));
        ASSERT_TRUE(qel->Key(window, QStringLiteral("ctrl+alt+x")));
        ASSERT_TRUE(WaitForWindow([](const QImage& shot) {
            return ShareOfPixels(shot, QRect(0, 0, 400, 300), IsPurple) > 0.95;
        })) << "a-long.mpg did not appear";
    }

    std::unique_ptr<QelProcess> qel;
    QString window;
    QRect geometry;
    std::vector<unsigned> users;
};

// The player on a session bus of its own, which the test can stop.
class KeyboardPlayerOnItsOwnBus : public KeyboardPlayer {
protected:
    void SetUp() override {
        ASSERT_FALSE(bus.Address().isEmpty());
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus.Address().toUtf8());
        KeyboardPlayer::SetUp();
    }
    PrivateSessionBus bus;
};

} // namespace

TEST_F(KeyboardPlayer, KeysPlayPauseSeekStepTheVolumeAndTheUsersSettingComesBack) {
    // The first show puts the device at the player's level, 100.
    EXPECT_TRUE(WaitForSink(Level(100)));
    PlayTheFirstTwo();

    ASSERT_TRUE(qel->Key(window, QStringLiteral("w")));
    EXPECT_TRUE(WaitForSink(Level(90)));
    ASSERT_TRUE(qel->Key(window, QStringLiteral("w")));
    EXPECT_TRUE(WaitForSink(Level(80)));
    ASSERT_TRUE(qel->Key(window, QStringLiteral("e")));
    EXPECT_TRUE(WaitForSink(Level(90)));
    ASSERT_TRUE(qel->Key(window, QStringLiteral("r")));
    EXPECT_TRUE(WaitForSink(Level(0)));
    ASSERT_TRUE(qel->Key(window, QStringLiteral("shift+r")));
    EXPECT_TRUE(WaitForSink(Level(90)));

    // C pauses: the bar stands still; C again and it moves on.
    ASSERT_TRUE(qel->Key(window, QStringLiteral("c")));
    QThread::msleep(300);
    const double paused = SeekBarFill(Window());
    QThread::msleep(700);
    EXPECT_EQ(SeekBarFill(Window()), paused);
    ASSERT_TRUE(qel->Key(window, QStringLiteral("c")));
    double playing = paused;
    static_cast<void>(WaitForWindow([&](const QImage& shot) {
        playing = SeekBarFill(shot);
        return playing > paused;
    }));
    EXPECT_GT(playing, paused);

    // Holding D: a step of 1 % per repeat, far more than playback would move.
    ASSERT_TRUE(qel->KeyDown(window, QStringLiteral("d")));
    QThread::msleep(1500);
    const double held = SeekBarFill(Window());
    ASSERT_TRUE(qel->KeyUp(QStringLiteral("d")));
    EXPECT_GT(held - playing, 0.12) << "from " << playing << " to " << held;
    double released = held;
    static_cast<void>(WaitForWindow([&](const QImage& shot) {
        released = SeekBarFill(shot);
        return released > held;
    }));
    EXPECT_GT(released, held) << "playback did not go on after the release";

    // B: the second selected file, the bars.
    ASSERT_TRUE(qel->Key(window, QStringLiteral("b")));
    // A loaded machine can take seconds to screenshot and compare.
    EXPECT_TRUE(WaitForWindow(
        [](const QImage& shot) {
            // The bars' leftmost, light grey one.
            return ShareOfPixels(shot, QRect(0, 0, 50, 190), [](QColor c) {
                       return c.value() > 150 && c.saturation() < 40;
                   }) > 0.95;
        },
        10000))
        << "the second file did not appear; qel said: " << qel->StandardError().toStdString();
    Window().save(QStringLiteral("keyboard-next.png"));

    ASSERT_TRUE(qel->Key(window, QStringLiteral("q")));
    const auto exitCode = qel->WaitForExit();
    ASSERT_TRUE(exitCode);
    EXPECT_EQ(*exitCode, 0);
    EXPECT_EQ(SinkChannels(), users);
}

TEST_F(KeyboardPlayer, TerminatedWhileMutedAtThirtyItStillPutsTheSettingBack) {
    PlayTheFirstTwo();
    for (int step = 0; step < 7; ++step)
        ASSERT_TRUE(qel->Key(window, QStringLiteral("ctrl+alt+w")));
    EXPECT_TRUE(WaitForSink(Level(30)));
    ASSERT_TRUE(qel->Key(window, QStringLiteral("ctrl+alt+r")));
    EXPECT_TRUE(WaitForSink(Level(0)));
    ASSERT_TRUE(qel->Signal(SIGTERM));
    const auto exitCode = qel->WaitForExit();
    ASSERT_TRUE(exitCode) << "qel did not end on SIGTERM";
    EXPECT_EQ(*exitCode, 0);
    EXPECT_EQ(SinkChannels(), users);
    const QByteArray errors = qel->StandardError();
    for (const char* displayTrouble : {"X Error", "xcb", "XIO", "GLX", "BadWindow"})
        EXPECT_FALSE(errors.contains(displayTrouble)) << errors.toStdString();
}

TEST_F(KeyboardPlayer, AnInterruptEndsItThroughTheClosePathToo) {
    ASSERT_TRUE(qel->Key(window, QStringLiteral("ctrl+alt+w")));
    EXPECT_TRUE(WaitForSink(Level(90)));
    ASSERT_TRUE(qel->Signal(SIGINT));
    const auto exitCode = qel->WaitForExit();
    ASSERT_TRUE(exitCode);
    EXPECT_EQ(*exitCode, 0);
    EXPECT_EQ(SinkChannels(), users);
}

TEST_F(KeyboardPlayer, AHangUpWhileTheAboutBoxIsOpenEndsItToo) {
    ASSERT_TRUE(qel->Key(window, QStringLiteral("ctrl+alt+a")));
    ASSERT_TRUE(qel->WaitForWindow(5000, QStringLiteral("^About$"))) << "no about box";
    ASSERT_TRUE(qel->Signal(SIGHUP));
    const auto exitCode = qel->WaitForExit();
    ASSERT_TRUE(exitCode) << "a modal box kept the program from ending";
    EXPECT_EQ(*exitCode, 0);
    EXPECT_EQ(SinkChannels(), users);
}

TEST_F(KeyboardPlayer, ALayoutSwitchAndARussianLayoutLeaveTheKeysWorking) {
    const auto setLayout = [](const QStringList& arguments) {
        return RunTool(QStringLiteral("setxkbmap"), arguments).has_value();
    };
    ASSERT_TRUE(setLayout({"-layout", "us,ru", "-option", "", "-option", "grp:alt_shift_toggle"}));
    struct LatinAgain {
        std::function<void()> Undo;
        ~LatinAgain() { Undo(); }
    } latinAgain{[&] {
        setLayout({"-layout", "us", "-option", ""});
    }};

    // The switch and a key without a symbol, idle.
    ASSERT_TRUE(qel->Key(window, QStringLiteral("alt+shift")));
    ASSERT_TRUE(qel->Key(window, QStringLiteral("93")));
    // Russian alone: no Latin group for the shortcuts to fall back on, and the
    // drive list has the focus.
    const QStringList russian = {"-layout", "ru", "-option", ""};
    ASSERT_TRUE(setLayout(russian));
    ASSERT_TRUE(qel->Key(window, QStringLiteral("ctrl+alt+25")));
    EXPECT_TRUE(WaitForSink(Level(90)));
    ASSERT_TRUE(setLayout({"-layout", "us,ru", "-option", "", "-option", "grp:alt_shift_toggle"}));
    PlayTheFirstTwo();
    ASSERT_TRUE(qel->Key(window, QStringLiteral("93")));
    ASSERT_TRUE(qel->Key(window, QStringLiteral("alt+shift")));
    ASSERT_TRUE(qel->Key(window, QStringLiteral("alt+shift")));
    // The key printed W/Ц, by its place.
    ASSERT_TRUE(setLayout(russian));
    ASSERT_TRUE(qel->Key(window, QStringLiteral("25")));
    EXPECT_TRUE(WaitForSink(Level(80)));
    ASSERT_TRUE(qel->Key(window, QStringLiteral("ctrl+alt+25")));
    EXPECT_TRUE(WaitForSink(Level(70)));
    // Hebrew has punctuation, not letters, on the keys printed Q and W.
    ASSERT_TRUE(setLayout({"-layout", "il", "-option", ""}));
    ASSERT_TRUE(qel->Key(window, QStringLiteral("25")));
    EXPECT_TRUE(WaitForSink(Level(60)));
    ASSERT_TRUE(qel->Key(window, QStringLiteral("24"))); // Q
    const auto exitCode = qel->WaitForExit();
    ASSERT_TRUE(exitCode) << qel->StandardError().toStdString();
    EXPECT_EQ(*exitCode, 0);
    EXPECT_EQ(SinkChannels(), users);
}

TEST_F(KeyboardPlayerOnItsOwnBus, QuitWithTheSessionBusStoppedEndsWithinASecond) {
    PlayTheFirstTwo();
    QThread::msleep(500); // the media controls and the screen saver's hold are on the bus
    ASSERT_EQ(::kill(static_cast<pid_t>(bus.Pid()), SIGSTOP), 0);
    struct Resume {
        pid_t Pid;
        ~Resume() { ::kill(Pid, SIGCONT); }
    } resume{static_cast<pid_t>(bus.Pid())};
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(qel->Key(window, QStringLiteral("ctrl+alt+q")));
    const auto exitCode = qel->WaitForExit(5000);
    ASSERT_TRUE(exitCode) << "still running " << clock.elapsed() << " ms after Quit";
    EXPECT_LT(clock.elapsed(), 1500);
    EXPECT_EQ(*exitCode, 0);
    EXPECT_EQ(SinkChannels(), users);
}
