// SPDX-License-Identifier: GPL-3.0-or-later

#include "tests/PlayerFixture.h"

#include <QTest>

namespace {

// Eight one-second files; the tests select some of them.
class PlayList : public PlayerFixture {
protected:
    PlayList()
        : PlayerFixture({{"f0.mpg", {1000, 320, 240, {}}},
                         {"f1.mpg", {1000, 320, 240, {}}},
                         {"f2.mpg", {1000, 320, 240, {}}},
                         {"f3.mpg", {1000, 320, 240, {}}},
                         {"f4.mpg", {1500, 320, 240, {}}},
                         {"f5.mpg", {1000, 320, 240, {}}},
                         {"f6.mpg", {2000, 320, 240, {}}},
                         {"f7.mpg", {1000, 320, 240, {}}}}) {}

    // The entries at indices 1, 4 and 6, played from the first.
    void PlayOneFourSix() {
        Select({"f1.mpg", "f4.mpg", "f6.mpg"});
        form.Action1->trigger();
    }

    // Lets the open file run to its end and gives the tick that notices it.
    void EndOfFile() {
        media.Advance(1000000);
        Tick();
    }

    void ExpectPlaying(const char* name, int ordinal) {
        EXPECT_EQ(FileIndex, Row(name));
        EXPECT_EQ(PlayOrdinal, ordinal);
        EXPECT_EQ(Panel(0), QStringLiteral("%1/ %2").arg(ordinal, 4).arg(3, 4));
        EXPECT_EQ(Panel(5), QStringLiteral("  ") + QLatin1String(name));
        EXPECT_NE(form.MediaPlayer1->DeviceID(), 0);
        EXPECT_EQ(form.MediaPlayer1->Mode(), mpPlaying);
        EXPECT_TRUE(form.Timer1->Enabled());
    }

    void ExpectPreviousNext(bool previous, bool next) {
        EXPECT_EQ(form.ToolButton2->isEnabled(), previous);
        EXPECT_EQ(form.ToolButton2->ImageIndex(), previous ? 3 : TImageList::Blank);
        EXPECT_EQ(form.P1->isEnabled(), previous);
        EXPECT_EQ(form.ToolButton6->isEnabled(), next);
        EXPECT_EQ(form.ToolButton6->ImageIndex(), next ? 4 : TImageList::Blank);
        EXPECT_EQ(form.Next1->isEnabled(), next);
    }
};

} // namespace

TEST_F(PlayList, NextAndPreviousWalkTheSelectionInListOrderAndStopAtItsEnds) {
    PlayOneFourSix();
    ExpectPlaying("f1.mpg", 1);
    ExpectPreviousNext(false, true);

    media.Advance(300);
    media.ClearCommands();
    form.Action4->trigger();
    EXPECT_EQ(media.Commands(), (QStringList{"stop", "close", OpenCommand("f4.mpg"), "window",
                                             "put 0 0 400 300", "time format 0", "play"}));
    ExpectPlaying("f4.mpg", 2);
    ExpectPreviousNext(true, true);
    EXPECT_EQ(form.ProgressBar1->Max(), 1500);

    form.Action4->trigger();
    ExpectPlaying("f6.mpg", 3);
    ExpectPreviousNext(true, false);

    // Past the last selected file, as the key would do with the button off.
    media.ClearCommands();
    form.Action4Execute(form.Action4);
    EXPECT_TRUE(media.Commands().isEmpty());
    ExpectPlaying("f6.mpg", 3);
    ExpectPreviousNext(true, false);

    form.Action5->trigger();
    ExpectPlaying("f4.mpg", 2);
    ExpectPreviousNext(true, true);
    form.Action5->trigger();
    ExpectPlaying("f1.mpg", 1);
    ExpectPreviousNext(false, true);

    media.ClearCommands();
    form.Action5Execute(form.Action5);
    EXPECT_TRUE(media.Commands().isEmpty());
    ExpectPlaying("f1.mpg", 1);
    EXPECT_TRUE(messages.Messages().empty());
}

TEST_F(PlayList, NextAndPreviousDoNothingWithNoFileOpen) {
    Select({"f1.mpg", "f4.mpg"});
    FileIndex = Row("f1.mpg");
    form.Action4Execute(form.Action4);
    form.Action5Execute(form.Action5);
    EXPECT_TRUE(media.Commands().isEmpty());
    EXPECT_EQ(FileIndex, Row("f1.mpg"));
    ExpectIdleLook();
}

TEST_F(PlayList, WithoutALoopTheSelectionPlaysOnceAndTheLastFileStaysAtItsEnd) {
    PlayOneFourSix();
    media.ClearCommands();
    EndOfFile();
    // The device stopped by itself: no Stop before the close.
    EXPECT_EQ(media.Commands().mid(0, 2), (QStringList{"close", OpenCommand("f4.mpg")}));
    ExpectPlaying("f4.mpg", 2);
    ExpectPreviousNext(true, true);
    EndOfFile();
    ExpectPlaying("f6.mpg", 3);
    ExpectPreviousNext(true, false);

    media.Advance(1950);
    Tick();
    EXPECT_EQ(Panel(1), QStringLiteral("  0:01/   0:02"));
    media.Advance(100);
    media.ClearCommands();
    for (int tick = 0; tick < 5; ++tick)
        Tick();
    // Every tick finds the end again and leaves everything as it was.
    EXPECT_EQ(media.Commands(), QStringList());
    EXPECT_EQ(FileIndex, Row("f6.mpg"));
    EXPECT_EQ(form.MediaPlayer1->Mode(), mpStopped);
    EXPECT_EQ(form.ProgressBar1->Position(), 1950);
    EXPECT_EQ(Panel(1), QStringLiteral("  0:01/   0:02"));
    EXPECT_TRUE(form.Timer1->Enabled());
    EXPECT_TRUE(form.ToolButton5->isEnabled());
    EXPECT_FALSE(form.FileListBox1->isEnabled());

    // Pause/Resume plays the last file again from its start.
    form.Action3->trigger();
    EXPECT_EQ(media.Commands(), (QStringList{"seek to start", "play"}));
    EXPECT_EQ(form.MediaPlayer1->Mode(), mpPlaying);
}

TEST_F(PlayList, TheEndOfAFileIsTakenAtOnceButAtMostOnceATick) {
    PlayOneFourSix();
    media.Advance(1000000);
    QCoreApplication::processEvents();
    ExpectPlaying("f4.mpg", 2);
    // A second end within the tick waits for the tick.
    media.Advance(1000000);
    QCoreApplication::processEvents();
    EXPECT_EQ(FileIndex, Row("f4.mpg"));
    Tick();
    ExpectPlaying("f6.mpg", 3);
}

TEST_F(PlayList, AnEndReportedWhileTheNextFileOpensIsLeftToTheTick) {
    PlayOneFourSix();
    media.SetOpenTime(50);
    // A tick that finds no file open and none opening takes the window back to
    // idle; one while a file opens does nothing.
    int idleTicks = 0;
    int ticksWhileOpening = 0;
    QObject::connect(form.Timer1, &TTimer::OnTimer, [&] {
        if (form.MediaPlayer1->State() == TMediaState::Idle)
            ++idleTicks;
        if (form.MediaPlayer1->State() == TMediaState::Opening)
            ++ticksWhileOpening;
    });
    EndOfFile(); // the report of the end is still queued when f4 opens
    ASSERT_TRUE(QTest::qWaitFor([&] { return !media.Opening(); }, 2000));
    QCoreApplication::processEvents();
    EXPECT_EQ(idleTicks, 0);
    EXPECT_GT(ticksWhileOpening, 0);
    EXPECT_FALSE(form.FileListBox1->isEnabled());
    ExpectPlaying("f4.mpg", 2);
}

TEST_F(PlayList, LoopAllStartsAgainFromTheFirstSelectedFile) {
    form.Action14->trigger();
    PlayOneFourSix();
    form.Action4->trigger();
    form.Action4->trigger();
    EndOfFile();
    ExpectPlaying("f1.mpg", 1);
    ExpectPreviousNext(false, true);
    // And on through the selection again.
    EndOfFile();
    ExpectPlaying("f4.mpg", 2);
}

TEST_F(PlayList, LoopSingleRepeatsTheFileWithoutReopeningIt) {
    form.Action13->trigger();
    Select({"f4.mpg"});
    form.Action1->trigger();
    for (int round = 0; round < 3; ++round) {
        media.ClearCommands();
        EndOfFile();
        EXPECT_EQ(media.Commands(), (QStringList{"seek to start", "play"}));
        EXPECT_EQ(PlayOrdinal, 1);
        EXPECT_EQ(FileIndex, Row("f4.mpg"));
        EXPECT_EQ(Panel(0), QStringLiteral("   1/    1"));
        EXPECT_EQ(form.MediaPlayer1->Mode(), mpPlaying);
    }
    // Single wins over a later selected file too.
    form.Action2->trigger();
    Select({"f1.mpg", "f4.mpg"});
    form.Action1->trigger();
    EndOfFile();
    EXPECT_EQ(FileIndex, Row("f1.mpg"));
}

TEST_F(PlayList, TheLoopModesAreTwoExclusiveCheckMarksShownInPanelFour) {
    EXPECT_EQ(Panel(4), QString());
    form.Action14->trigger();
    EXPECT_TRUE(form.All1->Checked());
    EXPECT_EQ(Panel(4), QStringLiteral("All"));
    // Through the menu item, whose own check mark must not fight the command's.
    form.Single1->trigger();
    EXPECT_TRUE(form.Single1->Checked());
    EXPECT_TRUE(form.Single1->isChecked());
    EXPECT_FALSE(form.All1->Checked());
    EXPECT_FALSE(form.All1->isChecked());
    EXPECT_EQ(Panel(4), QStringLiteral("Single"));
    form.Single1->trigger();
    EXPECT_FALSE(form.Single1->Checked());
    EXPECT_FALSE(form.Single1->isChecked());
    EXPECT_EQ(Panel(4), QString());
    form.Action14->trigger();
    form.Action14->trigger();
    EXPECT_FALSE(form.All1->Checked());
    EXPECT_EQ(Panel(4), QString());
}

TEST_F(PlayList, AFileThatCannotBePlayedEndsThePlayList) {
    Describe("f4.mpg", {1000, 0, 0, {}}); // no picture
    form.Action14->trigger();
    PlayOneFourSix();
    EndOfFile();
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_EQ(messages.LastText(), QStringLiteral("このファイルは再生できません。"));
    ExpectIdleLook();
    EXPECT_FALSE(form.Timer1->Enabled());
    // The rest of the selection is not tried, loop mode or not.
    EXPECT_EQ(media.Commands().filter(QStringLiteral("open")).size(), 2);
}

TEST_F(PlayList, NothingPlaysBehindTheCannotPlayBoxWhateverTheLoopMode) {
    Describe("f4.mpg", {1000, 0, 0, {}}); // no picture
    for (TMenuItem* mode : {static_cast<TMenuItem*>(nullptr), form.Single1}) {
        if (mode != nullptr)
            form.Action13->trigger();
        media.ClearCommands();
        PlayOneFourSix();
        // The box runs a loop of its own, in which the real tick would fire.
        bool boxShown = false;
        SetMessageBoxHook([&](const MessageRequest&) {
            boxShown = true;
            EXPECT_FALSE(form.Timer1->Enabled());
            EXPECT_FALSE(media.IsOpen());
            QTest::qWait(350);
            EXPECT_FALSE(media.IsOpen()) << "a file was opened behind the box";
            return 1;
        });
        form.Action4->trigger(); // B
        SetMessageBoxHook(nullptr);
        EXPECT_TRUE(boxShown);
        ExpectIdleLook();
        EXPECT_EQ(media.Commands().filter(QStringLiteral("open")).size(), 2)
            << media.Commands().join(QLatin1Char(',')).toStdString();
        EXPECT_EQ(media.Commands().filter(QStringLiteral("play")).size(), 1);
    }
}

TEST_F(PlayList, AnEngineErrorOnNextIsReportedAndTheNextTickGoesIdle) {
    Describe("f4.mpg", {0, 0, 0, QStringLiteral("Failed to recognize file format")});
    PlayOneFourSix();
    form.Action4->trigger();
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_EQ(messages.LastText(), QStringLiteral("Failed to recognize file format."));
    EXPECT_TRUE(form.Timer1->Enabled());
    Tick();
    EXPECT_FALSE(form.Timer1->Enabled());
    ExpectIdleLook();
}

TEST_F(PlayList, ThePlayButtonFollowsTheSelectionAndAChangeOfFolder) {
    EXPECT_FALSE(form.ToolButton3->isEnabled());
    // A real click on the second entry of the list.
    QWidget* viewport = form.FileListBox1->viewport();
    const QRect row = form.FileListBox1->visualRect(form.FileListBox1->model()->index(1, 0));
    QTest::mouseClick(viewport, Qt::LeftButton, {}, row.center());
    ASSERT_EQ(form.FileListBox1->SelCount(), 1);
    EXPECT_TRUE(form.ToolButton3->isEnabled());
    EXPECT_EQ(form.ToolButton3->ImageIndex(), 0);
    EXPECT_TRUE(form.Play1->isEnabled());
    // Ctrl+click takes it away again.
    QTest::mouseClick(viewport, Qt::LeftButton, Qt::ControlModifier, row.center());
    ASSERT_EQ(form.FileListBox1->SelCount(), 0);
    EXPECT_FALSE(form.ToolButton3->isEnabled());
    EXPECT_EQ(form.ToolButton3->ImageIndex(), TImageList::Blank);
    EXPECT_FALSE(form.Play1->isEnabled());

    QTest::mouseClick(viewport, Qt::LeftButton, {}, row.center());
    EXPECT_TRUE(form.ToolButton3->isEnabled());
    folder.Folder("sub");
    form.DirectoryListBox1->SetDirectory(folder.PathOf("sub"));
    ASSERT_TRUE(WaitForFolderReads());
    EXPECT_EQ(form.FileListBox1->Count(), 0);
    EXPECT_FALSE(form.ToolButton3->isEnabled());
    EXPECT_FALSE(form.Play1->isEnabled());
}
