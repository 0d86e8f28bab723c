// SPDX-License-Identifier: GPL-3.0-or-later

#include "media/MediaPlayer.h"
#include "platform/DroppedFiles.h"
#include "platform/FileSystem.h"
#include "platform/SimulatedMediaService.h"
#include "shell/Application.h"
#include "tests/TestSupport.h"
#include "ui/DirectoryListBox.h"
#include "ui/FileListBox.h"
#include "ui/MainForm.h"

#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

#include <cerrno>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// A start folder holding sub/clip.mpg and more.
class ShellPaths : public ::testing::Test {
protected:
    ShellPaths() {
        folder.Folder("sub");
        folder.File("sub/clip.mpg");
        folder.Folder("other");
        folder.File("other/x.mpg");
        folder.File("top.mpg");
    }

    // Starts the program with these arguments after its name.
    TForm1& Start(std::vector<QByteArray> arguments) {
        harness = std::make_unique<MainWindowHarness>(folder.Path(), MemoryOutputDevice{},
                                                      std::move(arguments));
        return harness->Form();
    }

    QByteArray Shown() const { return harness->Form().DirectoryListBox1->Directory(); }

    void Drop(const QList<QUrl>& urls) {
        QMimeData data;
        data.setUrls(urls);
        TForm1& form = harness->Form();
        QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(&form, &enter);
        lastDropAccepted = enter.isAccepted();
        if (!lastDropAccepted)
            return;
        QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(&form, &drop);
        EXPECT_TRUE(WaitForFolderReads());
    }
    static QUrl Local(const QByteArray& path) {
        return QUrl(QStringLiteral("file://") + QString::fromLatin1(path.toPercentEncoding("/")));
    }

    CurrentFolderGuard folderGuard;
    MessageRecorder messages;
    TempFolder folder;
    std::unique_ptr<MainWindowHarness> harness;
    bool lastDropAccepted = false;
};

} // namespace

TEST_F(ShellPaths, WithoutAnArgumentTheBrowserStaysOnTheStartFolder) {
    Start({});
    EXPECT_EQ(Shown(), folder.Path());
    EXPECT_TRUE(messages.Messages().empty());
}

TEST_F(ShellPaths, AFolderArgumentWithOrWithoutItsTrailingSlashIsShown) {
    Start({folder.PathOf("sub") + '/'});
    EXPECT_EQ(Shown(), folder.PathOf("sub"));
    harness.reset();
    Start({folder.PathOf("other")});
    EXPECT_EQ(Shown(), folder.PathOf("other"));
    EXPECT_EQ(harness->Form().FileListBox1->Count(), 1);
    // The folder it starts in, by name or as ".": its files are listed all the same.
    for (const QByteArray& start : {folder.Path(), QByteArray(".")}) {
        harness.reset();
        Start({start});
        EXPECT_EQ(Shown(), folder.Path());
        EXPECT_EQ(harness->Form().FileListBox1->Count(), 1) << start.constData();
        EXPECT_EQ(harness->Form().DirectoryListBox1->findItems("other", Qt::MatchExactly).size(), 1)
            << start.constData();
    }
}

TEST_F(ShellPaths, AFileArgumentShowsItsFolderWithNothingSelectedOrPlayed) {
    TForm1& form = Start({folder.PathOf("sub/clip.mpg"), folder.PathOf("other")});
    // Only the first argument counts.
    EXPECT_EQ(Shown(), folder.PathOf("sub"));
    EXPECT_EQ(form.FileListBox1->Count(), 1);
    EXPECT_EQ(form.FileListBox1->SelCount(), 0);
    EXPECT_TRUE(harness->Media().Commands().isEmpty());
    EXPECT_EQ(form.MediaPlayer1->DeviceID(), 0);
}

TEST_F(ShellPaths, ARelativeArgumentIsTakenFromTheFolderTheProgramStartedIn) {
    Start({"sub/clip.mpg"});
    EXPECT_EQ(Shown(), folder.PathOf("sub"));
    harness.reset();
    Start({"other/"});
    EXPECT_EQ(Shown(), folder.PathOf("other"));
}

TEST_F(ShellPaths, TheRootAndAFileInASystemFolder) {
    Start({"/"});
    EXPECT_EQ(Shown(), QByteArray("/"));
    harness.reset();
    Start({"/etc/hostname"});
    EXPECT_EQ(Shown(), QByteArray("/etc"));
}

TEST_F(ShellPaths, APathThatNamesNothingIsReportedAndTheWindowStillOpens) {
    TForm1& form = Start({folder.PathOf("missing/clip.mpg")});
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_FALSE(messages.LastText().isEmpty());
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(Shown(), folder.Path());
    EXPECT_EQ(form.FileListBox1->Count(), 1) << "the start folder's files";
}

TEST_F(ShellPaths, AnArgumentThroughALinkShowsTheFilesItLeadsToUnderThePathAsGiven) {
    folder.Link("alias", "sub");
    EXPECT_EQ(StoredEntryName(folder.PathOf("alias")), QByteArray("alias"));
    TForm1& form = Start({folder.PathOf("alias/clip.mpg")});
    EXPECT_EQ(Shown(), folder.PathOf("alias"));
    EXPECT_EQ(form.FileListBox1->Count(), 1);
}

TEST_F(ShellPaths, OnACaseSensitiveVolumeTheStoredNameIsTheGivenOne) {
    EXPECT_EQ(StoredEntryName(folder.PathOf("sub")), QByteArray("sub"));
    EXPECT_EQ(StoredEntryName(folder.PathOf("SUB")), std::nullopt);
    EXPECT_EQ(StoredEntryName(folder.Path() + '/'), std::nullopt);
    EXPECT_EQ(StoredEntryName(QByteArray()), std::nullopt);
}

TEST_F(ShellPaths, ADropShowsTheFolderOfTheFirstLocalItemOnly) {
    TForm1& form = Start({});
    form.FileListBox1->setFocus();
    Drop({QUrl(QStringLiteral("https://example.com/v.mpg")), Local(folder.PathOf("sub/clip.mpg")),
          Local(folder.PathOf("other"))});
    EXPECT_TRUE(lastDropAccepted);
    EXPECT_EQ(Shown(), folder.PathOf("sub"));
    EXPECT_TRUE(form.hasFocus());
    Drop({Local(folder.PathOf("other"))});
    EXPECT_EQ(Shown(), folder.PathOf("other"));
    // Only other URLs: nothing to take.
    Drop({QUrl(QStringLiteral("https://example.com/"))});
    EXPECT_FALSE(lastDropAccepted);
}

TEST_F(ShellPaths, ADropWhileAFileIsOpenChangesNothingNotEvenTheFocus) {
    TForm1& form = Start({});
    harness->Media().AddFile(folder.PathOf("top.mpg"), {5000, 320, 240, {}});
    form.FileListBox1->SetSelected(form.FileListBox1->Count() - 1, true);
    ASSERT_EQ(form.FileListBox1->ItemText(form.FileListBox1->Count() - 1),
              QStringLiteral("top.mpg"));
    form.Action1->trigger();
    ASSERT_NE(form.MediaPlayer1->DeviceID(), 0);
    form.clearFocus();
    ASSERT_EQ(QApplication::focusWidget(), nullptr);
    Drop({Local(folder.PathOf("sub"))});
    EXPECT_FALSE(lastDropAccepted);
    // Nor when the drop arrives anyway.
    form.WMDropFiles(DroppedFiles({folder.PathOf("sub")}));
    EXPECT_TRUE(WaitForFolderReads());
    EXPECT_EQ(Shown(), folder.Path());
    EXPECT_EQ(QApplication::focusWidget(), nullptr);
}

TEST_F(ShellPaths, ADroppedPathIsTakenWholeWithItsBytes) {
    // Deeper than 259 characters, and a name that is not UTF-8.
    QByteArray deep = "sub";
    for (int level = 0; level < 6; ++level) {
        deep += "/" + QByteArray(50, char('a' + level));
        folder.Folder(deep);
    }
    const QByteArray odd = deep + "/caf\xe9";
    folder.Folder(odd);
    ASSERT_GT(folder.PathOf(odd).size(), 300);
    Start({});
    Drop({Local(folder.PathOf(odd))});
    EXPECT_EQ(Shown(), folder.PathOf(odd));
}

TEST(StartFolder, AFolderGoneOrTooLongToNameGivesWayToTheNearestOneThatCanBeEntered) {
    // The process starts wherever its parent left it: the folders below are
    // entered by the process itself, as a shell would before starting it.
    CurrentFolderGuard folderGuard;
    TempFolder folder;
    ASSERT_EQ(::chdir(folder.Path().constData()), 0);
    EXPECT_EQ(EnterStartFolder(), 0);

    folder.Folder("a");
    folder.Folder("a/gone");
    ASSERT_EQ(::chdir(folder.PathOf("a/gone").constData()), 0);
    ASSERT_EQ(::rmdir(folder.PathOf("a/gone").constData()), 0);
    EXPECT_EQ(EnterStartFolder(), ENOENT);
    EXPECT_EQ(CurrentDirectory(), folder.PathOf("a"));

    // Deeper than a path the system can name: entered step by step.
    ASSERT_EQ(::chdir(folder.Path().constData()), 0);
    const QByteArray step(200, 'd');
    for (int depth = 0; depth < 24; ++depth) {
        ASSERT_EQ(::mkdir(step.constData(), 0755), 0);
        ASSERT_EQ(::chdir(step.constData()), 0);
    }
    EXPECT_EQ(EnterStartFolder(), ENAMETOOLONG);
    const QByteArray nearest = CurrentDirectory();
    EXPECT_TRUE(nearest.startsWith(folder.Path() + '/' + step));
    EXPECT_GT(nearest.size(), 4096 - 202);
    EXPECT_LT(nearest.size(), 4096);
    EXPECT_EQ(ChangeDirectory(nearest), 0);

    // The folder's own removal cannot name the deepest ones either.
    ASSERT_EQ(::chdir(folder.Path().constData()), 0);
    for (int depth = 0; depth < 24; ++depth)
        ASSERT_EQ(::chdir(step.constData()), 0);
    for (int depth = 0; depth < 24; ++depth) {
        ASSERT_EQ(::chdir(".."), 0);
        ASSERT_EQ(::rmdir(step.constData()), 0);
    }
}
