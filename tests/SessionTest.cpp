// SPDX-License-Identifier: GPL-3.0-or-later

#include "media/MediaPlayer.h"
#include "platform/SimulatedMediaService.h"
#include "tests/PlayerFixture.h"
#include "tests/TestSupport.h"
#include "ui/Controls.h"
#include "ui/DirectoryListBox.h"
#include "ui/DriveComboBox.h"
#include "ui/FileListBox.h"
#include "ui/ImageList.h"
#include "ui/MainForm.h"
#include "ui/ProgressBar.h"
#include "ui/StatusBar.h"
#include "ui/ToolBar.h"

#include <QTest>
#include <gtest/gtest.h>

namespace {

// The window over the simulated service, in a folder of six clips.
class Session : public PlayerFixture {
protected:
    Session()
        : PlayerFixture(
              {{"a.mpg", {2500, 320, 240, {}}},
               {"b.mpg", {61000, 352, 240, {}}},
               {"c.mpg", {3000, 320, 240, {}}},
               {"_sound.mpg", {2000, 0, 0, {}}},
               {"broken.mpg", {0, 0, 0, QStringLiteral("Failed to recognize file format")}},
               {"big.mpg", {1000, 400, 300, {}}}}) {}
};

} // namespace

TEST_F(Session, PlayWithNothingSelectedChangesNothing) {
    form.Action1->trigger();
    EXPECT_TRUE(media.Commands().isEmpty());
    EXPECT_TRUE(form.Image1->isVisible());
    EXPECT_FALSE(form.Timer1->Enabled());
}

TEST_F(Session, PlayOpensTheFirstSelectedFileAndTakesThePlayingLook) {
    Select({"a.mpg", "b.mpg", "c.mpg"});
    form.Action1->trigger();
    EXPECT_EQ(media.Commands(),
              (QStringList{"open " + QString::fromUtf8(folder.PathOf("a.mpg")), "window",
                           "put 0 0 400 300", "time format 0", "play"}));
    EXPECT_EQ(FileIndex, Row("a.mpg"));
    EXPECT_EQ(PlayOrdinal, 1);
    EXPECT_EQ(VideoWidth, 320);
    EXPECT_EQ(VideoHeight, 240);
    EXPECT_EQ(Panel(0), QStringLiteral("   1/    3"));
    EXPECT_EQ(Panel(1), QStringLiteral("  0:00/   0:02"));
    EXPECT_EQ(Panel(2), QStringLiteral(" 400x 300/  320x 240"));
    EXPECT_EQ(Panel(5), QStringLiteral("  a.mpg"));
    EXPECT_EQ(form.ProgressBar1->Max(), 2500);
    EXPECT_TRUE(form.ToolButton4->isEnabled());
    EXPECT_EQ(form.ToolButton4->ImageIndex(), 2);
    EXPECT_TRUE(form.ToolButton5->isEnabled());
    EXPECT_EQ(form.ToolButton5->ImageIndex(), 1);
    EXPECT_TRUE(form.ToolButton6->isEnabled()); // more than one selected
    EXPECT_EQ(form.ToolButton6->ImageIndex(), 4);
    EXPECT_FALSE(form.ToolButton2->isEnabled());
    for (TMenuItem* item :
         {form.Pause1, form.Stop1, form.Next1, form.AspectRatio1, form.OriginalSize1})
        EXPECT_TRUE(item->isEnabled()) << item->objectName().toStdString();
    EXPECT_EQ(form.OriginalSize1->Caption(), QStringLiteral("Original Size"));
    EXPECT_FALSE(form.DriveComboBox1->isEnabled());
    EXPECT_FALSE(form.DirectoryListBox1->isEnabled());
    EXPECT_FALSE(form.FileListBox1->isEnabled());
    EXPECT_FALSE(form.Image1->isVisible());
    EXPECT_FALSE(form.Panel4->isVisible());
    EXPECT_TRUE(form.Timer1->Enabled());
    EXPECT_TRUE(messages.Messages().empty());
}

TEST_F(Session, ASingleSelectedFileLeavesNextOffAndAPictureOfTheAreasSizeReadsCurrentSize) {
    Select({"big.mpg"});
    form.Action1->trigger();
    EXPECT_FALSE(form.ToolButton6->isEnabled());
    EXPECT_EQ(Panel(0), QStringLiteral("   1/    1"));
    EXPECT_EQ(form.OriginalSize1->Caption(), QStringLiteral("Current Size"));
    form.Action2->trigger();
    EXPECT_EQ(form.OriginalSize1->Caption(), QStringLiteral("Original Size"));
}

TEST_F(Session, AFileWithoutAPictureIsRefusedAndTheWindowGoesIdle) {
    Select({"_sound.mpg", "a.mpg"});
    form.Action1->trigger();
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_EQ(messages.Messages()[0].Text, QStringLiteral("このファイルは再生できません。"));
    EXPECT_EQ(messages.Messages()[0].Caption, QStringLiteral("Qel"));
    EXPECT_EQ(messages.Messages()[0].Icon, MessageIcon::Error);
    EXPECT_TRUE(OpenFailed == false);
    EXPECT_FALSE(form.Timer1->Enabled());
    ExpectIdleLook();
    // No other selected file is tried.
    EXPECT_EQ(media.Commands().filter(QStringLiteral("open")).size(), 1);
}

TEST_F(Session, AFileTheEngineCannotOpenShowsItsReasonAndTheWindowGoesIdle) {
    Select({"broken.mpg"});
    form.Action1->trigger();
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_EQ(messages.LastText(), QStringLiteral("Failed to recognize file format."));
    ExpectIdleLook();
    EXPECT_FALSE(form.Timer1->Enabled());
}

TEST_F(Session, AFailedOpenWhilePlayingStillGivesTheBrowserBack) {
    Select({"a.mpg"});
    form.Action1->trigger();
    // The user cannot change the selection while playing; the file changes instead.
    Describe("a.mpg", {0, 0, 0, QStringLiteral("The file is gone")});
    form.Action1->trigger();
    EXPECT_EQ(messages.LastText(), QStringLiteral("The file is gone."));
    ExpectIdleLook();
    EXPECT_FALSE(form.ToolButton5->isEnabled());
}

TEST_F(Session, PlayWhilePlayingRestartsFromTheFirstSelectedFile) {
    Select({"a.mpg", "c.mpg"});
    form.Action1->trigger();
    media.Advance(1000);
    FileIndex = Row("c.mpg"); // as if Next had moved on
    PlayOrdinal = 2;
    media.ClearCommands();
    form.Action1->trigger();
    EXPECT_EQ(media.Commands().mid(0, 3),
              (QStringList{"stop", "close", "open " + QString::fromUtf8(folder.PathOf("a.mpg"))}));
    EXPECT_EQ(PlayOrdinal, 1);
    EXPECT_EQ(FileIndex, Row("a.mpg"));
    EXPECT_TRUE(form.Timer1->Enabled());
}

TEST_F(Session, StopClosesTheFileAndResetsTheWindow) {
    Select({"a.mpg", "b.mpg"});
    form.Action1->trigger();
    media.ClearCommands();
    form.Action2->trigger();
    EXPECT_EQ(media.Commands(), (QStringList{"stop", "close"}));
    EXPECT_FALSE(form.Timer1->Enabled());
    ExpectIdleLook();
    // The play list's place and the seek bar's range stay.
    EXPECT_EQ(FileIndex, Row("a.mpg"));
    EXPECT_EQ(PlayOrdinal, 1);
    EXPECT_EQ(form.ProgressBar1->Max(), 2500);
}

TEST_F(Session, StopWithNothingOpenOnlyStopsTheTimer) {
    form.Timer1->SetEnabled(true);
    form.StatusBar1->SetPanelText(0, QStringLiteral("kept"));
    form.Action2->trigger();
    EXPECT_FALSE(form.Timer1->Enabled());
    EXPECT_EQ(Panel(0), QStringLiteral("kept"));
    EXPECT_TRUE(media.Commands().isEmpty());
}

TEST_F(Session, PauseAndResumeAndAfterTheEndPlayAgainFromTheStart) {
    Select({"a.mpg"});
    form.Action1->trigger();
    form.Action3->trigger();
    EXPECT_EQ(form.MediaPlayer1->Mode(), mpPaused);
    form.Action3->trigger();
    EXPECT_EQ(form.MediaPlayer1->Mode(), mpPlaying);
    media.Advance(2500);
    form.Timer1->SetEnabled(false);
    media.ClearCommands();
    form.Action3->trigger();
    EXPECT_EQ(media.Commands(), (QStringList{"seek to start", "play"}));
    EXPECT_TRUE(form.Timer1->Enabled());
    EXPECT_EQ(form.MediaPlayer1->Mode(), mpPlaying);
}

TEST_F(Session, AClickOnTheVideoAreaPausesAndResumes) {
    Select({"a.mpg"});
    form.Action1->trigger();
    QTest::mouseClick(form.windowHandle(), Qt::LeftButton, {}, QPoint(100, 100));
    EXPECT_EQ(form.MediaPlayer1->Mode(), mpPaused);
    QTest::mouseClick(form.windowHandle(), Qt::LeftButton, {}, QPoint(100, 100));
    EXPECT_EQ(form.MediaPlayer1->Mode(), mpPlaying);
}

TEST_F(Session, TheTickFollowsPlaybackAndFindsAClosedDeviceIdle) {
    Select({"b.mpg"});
    form.Action1->trigger();
    media.Advance(60123);
    form.Timer1Timer(form.Timer1);
    EXPECT_EQ(form.ProgressBar1->Position(), 60123);
    EXPECT_EQ(Panel(1), QStringLiteral("  1:00/   1:01"));
    // A device closed behind the player's back.
    form.MediaPlayer1->Close();
    form.Timer1Timer(form.Timer1);
    EXPECT_FALSE(form.Timer1->Enabled());
    ExpectIdleLook();
}

TEST_F(Session, TheRealTimerTicksEveryHundredMilliseconds) {
    Select({"b.mpg"});
    form.Action1->trigger();
    media.Advance(5000);
    // The first tick is due 100 ms after the start: no later than half a period more.
    static_cast<void>(QTest::qWaitFor([&] { return form.ProgressBar1->Position() == 5000; }, 150));
    EXPECT_EQ(form.ProgressBar1->Position(), 5000);
    EXPECT_EQ(Panel(1), QStringLiteral("  0:05/   1:01"));
}

TEST_F(Session, ThePictureFollowsEveryResizeWhilePlaying) {
    Select({"a.mpg"});
    form.Action1->trigger();
    form.resize(700, 500);
    EXPECT_EQ(media.Destination(), (MediaRect{0, 0, 567, 457}));
    EXPECT_EQ(Panel(2), QStringLiteral(" 567x 457/  320x 240"));
    form.resize(133 + 320, 43 + 240);
    EXPECT_EQ(form.OriginalSize1->Caption(), QStringLiteral("Current Size"));
}

TEST_F(Session, ClosingTheWindowStopsAndClosesTheFile) {
    Select({"a.mpg"});
    form.Action1->trigger();
    media.ClearCommands();
    form.close();
    EXPECT_EQ(media.Commands(), (QStringList{"stop", "close"}));
    EXPECT_FALSE(form.Timer1->Enabled());
}
