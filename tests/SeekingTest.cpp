// SPDX-License-Identifier: GPL-3.0-or-later

#include "tests/PlayerFixture.h"
#include "ui/StatusTexts.h"

#include <QTest>

namespace {

class Seeking : public PlayerFixture {
protected:
    Seeking()
        : PlayerFixture({{"minute.mpg", {60000, 320, 240, {}}},
                         {"blink.mpg", {80, 320, 240, {}}},
                         {"long.mpg", {62 * 60000 + 5000, 320, 240, {}}}}) {}

    void PlayOnly(const char* name) {
        Select({name});
        form.Action1->trigger();
        media.ClearCommands();
    }

    // The mouse on the seek bar, at x pixels from its left edge.
    void Press(int x, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mousePress(form.ProgressBar1, button, {}, QPoint(x, 8));
    }
    void Drag(int x) { QTest::mouseMove(form.ProgressBar1, QPoint(x, 8)); }
    void Release(int x, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mouseRelease(form.ProgressBar1, button, {}, QPoint(x, 8));
    }
};

} // namespace

TEST(TimeText, MinutesAndSecondsOfPositionAndLengthWithNoHours) {
    EXPECT_EQ(TimeText(83456, 62 * 60000 + 5000), QStringLiteral("  1:23/  62:05"));
    EXPECT_EQ(TimeText(0, 999), QStringLiteral("  0:00/   0:00"));
    EXPECT_EQ(TimeText(7200000, 7259999), QStringLiteral("120:00/ 120:59"));
    // The minutes field grows wider past 999.
    EXPECT_EQ(TimeText(60000000, 60000000), QStringLiteral("1000:00/ 1000:00"));
}

TEST_F(Seeking, APressPicksThePointUnderTheMouseAndTheReleasePlaysFromIt) {
    PlayOnly("minute.mpg");
    ASSERT_EQ(form.ProgressBar1->width(), 525);
    media.Advance(10000);
    Press(262);
    // 60000 / 525 in single precision, times 262, truncated.
    EXPECT_EQ(form.ProgressBar1->Position(), 29942);
    EXPECT_EQ(Panel(1), QStringLiteral("  0:29/   1:00"));
    EXPECT_EQ(media.Commands(), QStringList{"pause"});
    EXPECT_FALSE(form.Timer1->Enabled());

    // The drag moves only the bar, stopping at both ends.
    Drag(-40);
    EXPECT_EQ(form.ProgressBar1->Position(), 0);
    EXPECT_EQ(Panel(1), QStringLiteral("  0:00/   1:00"));
    Drag(5000);
    EXPECT_EQ(form.ProgressBar1->Position(), 60000);
    Drag(105);
    EXPECT_EQ(form.ProgressBar1->Position(), 12000);
    EXPECT_EQ(media.Commands(), QStringList{"pause"});
    EXPECT_FALSE(form.Timer1->Enabled());

    Release(105);
    EXPECT_EQ(media.Commands(), (QStringList{"pause", "play from 12000"}));
    EXPECT_TRUE(form.Timer1->Enabled());
    EXPECT_EQ(form.MediaPlayer1->Mode(), mpPlaying);
    // The bar goes on from the chosen point, never back.
    Tick();
    EXPECT_EQ(form.ProgressBar1->Position(), 12000);
    media.Advance(500);
    Tick();
    EXPECT_EQ(form.ProgressBar1->Position(), 12500);
    EXPECT_EQ(Panel(1), QStringLiteral("  0:12/   1:00"));
}

TEST_F(Seeking, APressAtTheLeftEdgeSeeksToTheStart) {
    PlayOnly("minute.mpg");
    media.Advance(30000);
    Press(0);
    Release(0);
    EXPECT_EQ(media.Commands(), (QStringList{"pause", "play from 0"}));
}

TEST_F(Seeking, OtherButtonsAndAnIdleWindowDoNothing) {
    Press(100);
    Release(100);
    EXPECT_TRUE(media.Commands().isEmpty());
    EXPECT_FALSE(form.Timer1->Enabled());
    EXPECT_EQ(form.ProgressBar1->Position(), 0);

    PlayOnly("minute.mpg");
    for (Qt::MouseButton button : {Qt::RightButton, Qt::MiddleButton}) {
        Press(100, button);
        Release(100, button);
    }
    EXPECT_TRUE(media.Commands().isEmpty());
    EXPECT_TRUE(form.Timer1->Enabled());
    EXPECT_EQ(form.ProgressBar1->Position(), 0);
    // A move without the left button held is no drag.
    Drag(200);
    EXPECT_EQ(form.ProgressBar1->Position(), 0);
}

TEST_F(Seeking, ASeekWhilePausedEndsPlaying) {
    PlayOnly("minute.mpg");
    form.Action3->trigger();
    ASSERT_EQ(form.MediaPlayer1->Mode(), mpPaused);
    media.ClearCommands();
    Press(50);
    Release(50);
    // Paused already: no second pause, which would resume.
    EXPECT_EQ(media.Commands(), (QStringList{"play from 5714"}));
    EXPECT_EQ(form.MediaPlayer1->Mode(), mpPlaying);
}

TEST_F(Seeking, APressAfterTheLastFileEndedLeavesItAndTheReleasePlaysOn) {
    PlayOnly("minute.mpg");
    media.Advance(60000);
    Tick();
    ASSERT_EQ(form.MediaPlayer1->Mode(), mpStopped);
    media.ClearCommands();
    Press(262);
    EXPECT_TRUE(media.Commands().isEmpty());
    Release(262);
    EXPECT_EQ(media.Commands(), (QStringList{"play from 29942"}));
    EXPECT_EQ(form.MediaPlayer1->Mode(), mpPlaying);
    EXPECT_TRUE(form.Timer1->Enabled());
}

TEST_F(Seeking, TheKeyStepsMoveOnePercentHeldAndPlayOnRelease) {
    PlayOnly("long.mpg"); // 3,725,000 ms: steps of 37,250
    media.Advance(100000);
    Tick();
    form.SeekStep(+1);
    EXPECT_EQ(media.Commands(), QStringList{"pause"});
    EXPECT_FALSE(form.Timer1->Enabled());
    EXPECT_EQ(form.ProgressBar1->Position(), 137250);
    EXPECT_EQ(Panel(1), QStringLiteral("  2:17/  62:05"));
    // Repeats while held move on without pausing again.
    form.SeekStep(+1);
    form.SeekStep(+1);
    EXPECT_EQ(form.ProgressBar1->Position(), 211750);
    form.SeekStep(-1);
    EXPECT_EQ(form.ProgressBar1->Position(), 174500);
    EXPECT_EQ(media.Commands(), QStringList{"pause"});
    form.SeekRelease();
    EXPECT_EQ(media.Commands(), (QStringList{"pause", "play from 174500"}));
    EXPECT_TRUE(form.Timer1->Enabled());
    EXPECT_EQ(form.MediaPlayer1->Mode(), mpPlaying);
}

TEST_F(Seeking, TheKeyStepsStopAtBothEndsAndTheEndIsSeenByTheNextTick) {
    PlayOnly("long.mpg");
    media.Advance(20000);
    Tick();
    form.SeekStep(-1);
    EXPECT_EQ(form.ProgressBar1->Position(), 0);
    form.SeekRelease();
    EXPECT_EQ(media.Commands().last(), QStringLiteral("play from 0"));

    media.Advance(3700000);
    Tick();
    form.SeekStep(+1);
    EXPECT_EQ(form.ProgressBar1->Position(), 3725000);
    form.SeekRelease();
    EXPECT_EQ(media.Commands().last(), QStringLiteral("play from 3725000"));
    EXPECT_EQ(form.MediaPlayer1->Mode(), mpStopped);
    // Nothing else is selected: the file stays at its end.
    Tick();
    EXPECT_NE(form.MediaPlayer1->DeviceID(), 0);
    EXPECT_TRUE(form.Timer1->Enabled());
}

TEST_F(Seeking, OnAFileShorterThanAHundredthOfASecondTheStepIsNoneButTheReleaseStillPlays) {
    PlayOnly("blink.mpg");
    media.Advance(40);
    Tick();
    form.SeekStep(+1);
    form.SeekStep(-1);
    EXPECT_EQ(form.ProgressBar1->Position(), 40);
    form.SeekRelease();
    EXPECT_EQ(media.Commands(), (QStringList{"pause", "play from 40"}));
}

TEST_F(Seeking, TheKeyStepsDoNothingWithNoFileOpen) {
    form.SeekStep(+1);
    form.SeekRelease();
    EXPECT_TRUE(media.Commands().isEmpty());
    EXPECT_FALSE(form.Timer1->Enabled());
    EXPECT_EQ(form.ProgressBar1->Position(), 0);
}
