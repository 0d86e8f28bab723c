// SPDX-License-Identifier: GPL-3.0-or-later

#include "common/Exceptions.h"
#include "platform/FileSystem.h"
#include "platform/Volumes.h"
#include "tests/TestSupport.h"
#include "ui/DirectoryListBox.h"
#include "ui/DriveComboBox.h"
#include "ui/FileListBox.h"
#include "ui/MainForm.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kMask = QStringLiteral("*.mpg;*.wmv;*.asf;*.mpeg");

// The three linked controls as the main window sets them up.
class Browser {
public:
    explicit Browser(const QByteArray& folder) {
        ChangeDirectory(folder);
        files = std::make_unique<TFileListBox>(QStringLiteral("FileListBox1"), nullptr);
        files->SetMask(kMask);
        files->SetFileType(TFileType::ftReadOnly | TFileType::ftNormal);
        folders = std::make_unique<TDirectoryListBox>(QStringLiteral("DirectoryListBox1"), nullptr);
        folders->SetFileList(files.get());
        drives = std::make_unique<TDriveComboBox>(QStringLiteral("DriveComboBox1"), nullptr);
        drives->SetDirList(folders.get());
        Settle();
    }

    // Lets the reads under way show what they found.
    static void Settle() { EXPECT_TRUE(WaitForFolderReads()); }
    void Enter(const QByteArray& value) const {
        folders->SetDirectory(value);
        Settle();
    }

    QStringList Listed() const {
        QStringList texts;
        for (int i = 0; i < files->Count(); ++i)
            texts << files->ItemText(i);
        return texts;
    }

    CurrentFolderGuard guard;
    std::unique_ptr<TFileListBox> files;
    std::unique_ptr<TDirectoryListBox> folders;
    std::unique_ptr<TDriveComboBox> drives;
};

} // namespace

TEST(FileList, ListsMatchingFilesSortedWithoutRegardToCase) {
    TempFolder folder;
    for (const char* name : {"B.MPG", "a.mpeg", "c.wmv", "D.Asf", "e.avi", "f.mp3", "g.mpgx",
                             "readme.txt", "Ä.mpg", "_x.mpg"})
        folder.File(name);
    Browser browser(folder.Path());
    EXPECT_EQ(browser.Listed(),
              (QStringList{"_x.mpg", "a.mpeg", "B.MPG", "c.wmv", "D.Asf", "Ä.mpg"}));
    EXPECT_EQ(browser.files->SelCount(), 0);
    EXPECT_EQ(browser.files->Directory(), folder.Path());
}

TEST(FileList, LeavesOutHiddenAndSystemEntriesAndFoldersButListsReadOnlyFiles) {
    TempFolder folder;
    folder.File("plain.mpg");
    folder.File(".hidden.mpg");
    folder.File("locked.mpg");
    folder.Mode("locked.mpg", 0444);
    folder.Folder("folder.mpg");
    folder.Fifo("pipe.mpg");
    folder.Link("broken.mpg", "nowhere");
    folder.Link("link.mpg", "plain.mpg");
    folder.Link("folderlink.mpg", "folder.mpg");
    Browser browser(folder.Path());
    EXPECT_EQ(browser.Listed(), (QStringList{"link.mpg", "locked.mpg", "plain.mpg"}));
}

TEST(FileList, OtherFileTypesListFoldersInBracketsOrOnlyReadOnlyFiles) {
    TempFolder folder;
    folder.File("plain.mpg");
    folder.Mode("plain.mpg", 0666); // writable by the unprivileged user too
    folder.File("locked.mpg");
    folder.Mode("locked.mpg", 0444);
    folder.Folder("folder.mpg");
    folder.File(".hidden.mpg");
    Browser browser(folder.Path());
    browser.files->SetFileType(TFileType::ftNormal | TFileType::ftDirectory | TFileType::ftHidden);
    browser.Settle();
    EXPECT_EQ(browser.Listed(),
              (QStringList{".hidden.mpg", "[folder.mpg]", "locked.mpg", "plain.mpg"}));
    EXPECT_TRUE(RunUnprivileged([&] {
        browser.files->SetFileType(TFileType::ftReadOnly);
        browser.Settle();
        return browser.Listed() == QStringList{"locked.mpg"};
    }));
}

TEST(FileList, APatternNamedTwiceListsItsFilesTwice) {
    TempFolder folder;
    folder.File("a.mpg");
    folder.File("b.wmv");
    Browser browser(folder.Path());
    browser.files->SetMask(QStringLiteral("*.mpg;*.wmv;*.mpg"));
    browser.Settle();
    EXPECT_EQ(browser.Listed(), (QStringList{"a.mpg", "a.mpg", "b.wmv"}));
}

TEST(FileList, ANameThatIsNotUtf8IsListedAndKeepsItsBytes) {
    TempFolder folder;
    const QByteArray latin1Name("caf\xe9 \xff.mpg");
    folder.File(latin1Name);
    Browser browser(folder.Path());
    ASSERT_EQ(browser.files->Count(), 1);
    EXPECT_EQ(browser.files->ItemName(0), latin1Name);
    EXPECT_TRUE(browser.files->ItemText(0).endsWith(QStringLiteral(".mpg")));
    EXPECT_EQ(access(folder.PathOf(browser.files->ItemName(0)).constData(), R_OK), 0);
}

TEST(FileList, AnEmptyOrUnsearchableFolderGivesAnEmptyListWithoutAMessage) {
    TempFolder folder;
    folder.Folder("empty");
    folder.Folder("sealed");
    folder.File("sealed/inside.mpg");
    folder.Mode("sealed", 0111);
    MessageRecorder messages;
    Browser browser(folder.PathOf("empty"));
    EXPECT_EQ(browser.files->Count(), 0);
    EXPECT_EQ(browser.files->SelCount(), 0);
    EXPECT_TRUE(RunUnprivileged([&] {
        browser.Enter(folder.PathOf("sealed"));
        return browser.folders->Directory() == folder.PathOf("sealed") &&
               browser.files->Count() == 0;
    }));
    EXPECT_TRUE(messages.Messages().empty());
}

TEST(FileList, UserSelectionRaisesClickAndTheRightButtonLeavesItAlone) {
    TempFolder folder;
    for (const char* name : {"a.mpg", "b.mpg", "c.mpg", "d.mpg"})
        folder.File(name);
    Browser browser(folder.Path());
    TFileListBox& list = *browser.files;
    list.resize(122, 163);
    list.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));
    QSignalSpy clicks(&list, &TFileListBox::OnClick);
    QSignalSpy presses(&list, &TFileListBox::OnMouseDown);
    QWidget* view = list.viewport();
    const auto rowCentre = [&](int row) {
        return list.visualRect(list.model()->index(row, 0)).center();
    };

    QTest::mouseClick(view, Qt::LeftButton, {}, rowCentre(0));
    QTest::mouseClick(view, Qt::LeftButton, Qt::ControlModifier, rowCentre(2));
    EXPECT_EQ(list.SelCount(), 2);
    QTest::mouseClick(view, Qt::LeftButton, Qt::ShiftModifier, rowCentre(3));
    EXPECT_TRUE(list.Selected(0));
    EXPECT_TRUE(list.Selected(2));
    EXPECT_TRUE(list.Selected(3));
    QTest::keyClick(view, Qt::Key_Up, Qt::ShiftModifier);
    EXPECT_GE(clicks.count(), 4);
    const int clicksBefore = static_cast<int>(clicks.count());

    QTest::mouseClick(view, Qt::RightButton, {}, rowCentre(1));
    EXPECT_FALSE(list.Selected(1));
    EXPECT_EQ(clicks.count(), clicksBefore);
    ASSERT_FALSE(presses.isEmpty());
    const QList<QVariant> last = presses.last();
    EXPECT_EQ(last.at(0).value<Qt::MouseButton>(), Qt::RightButton);
    EXPECT_EQ(last.at(3).toInt(), rowCentre(1).x());

    // Reading a folder clears the selection without a click of its own.
    list.ReadFileNames();
    browser.Settle();
    EXPECT_EQ(list.SelCount(), 0);
    EXPECT_EQ(clicks.count(), clicksBefore);
}

TEST(FileList, ADoubleClickSelectsItsEntryThenReportsIt) {
    TempFolder folder;
    folder.File("a.mpg");
    folder.File("b.mpg");
    Browser browser(folder.Path());
    TFileListBox& list = *browser.files;
    list.resize(122, 163);
    list.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));
    int selectedAtDoubleClick = -1;
    QObject::connect(&list, &TFileListBox::OnDblClick, [&] {
        selectedAtDoubleClick = list.Selected(1) && !list.Selected(0) ? 1 : 0;
    });
    const QPoint at = list.visualRect(list.model()->index(1, 0)).center();
    QTest::mouseDClick(list.windowHandle(), Qt::LeftButton, {}, list.viewport()->mapTo(&list, at));
    EXPECT_EQ(selectedAtDoubleClick, 1);
}

TEST(FolderList, ShowsThePathFromTheRootThenTheSubfoldersIndented) {
    TempFolder folder;
    folder.Folder("Films");
    folder.Folder("Films/zeta");
    folder.Folder("Films/Alpha");
    folder.Folder("Films/beta");
    folder.Folder("Films/.hidden");
    folder.File("Films/file.mpg");
    Browser browser(folder.PathOf("Films"));
    const TDirectoryListBox& list = *browser.folders;
    const QList<QByteArray> parts = folder.PathOf("Films").split('/');
    const int depth = static_cast<int>(parts.size()) - 1; // path components below the root
    ASSERT_EQ(list.count(), depth + 1 + 3);
    EXPECT_EQ(list.item(0)->text(), QStringLiteral("/"));
    EXPECT_EQ(list.EntryPath(0), QByteArray("/"));
    EXPECT_EQ(list.item(depth)->text(), QStringLiteral("Films"));
    EXPECT_EQ(list.EntryKindOf(depth), TDirectoryListBox::EntryKind::Current);
    EXPECT_EQ(list.currentRow(), depth);
    EXPECT_EQ(list.EntryLevel(depth), depth);
    QStringList subfolders;
    for (int row = depth + 1; row < list.count(); ++row) {
        subfolders << list.item(row)->text();
        EXPECT_EQ(list.EntryKindOf(row), TDirectoryListBox::EntryKind::Subfolder);
        EXPECT_EQ(list.EntryLevel(row), depth + 1);
    }
    EXPECT_EQ(subfolders, (QStringList{"Alpha", "beta", "zeta"}));
    EXPECT_EQ(list.EntryPath(depth + 1), folder.PathOf("Films/Alpha"));
    EXPECT_EQ(list.EntryPath(depth - 1), folder.Path());
}

// A change of folder reads it once for both lists: each must show what it showed
// reading the folder on its own, whatever the file list's type.
TEST(FolderList, AChangeOfFolderShowsTheSubfoldersAndTheFilesAsEachListAlone) {
    TempFolder folder;
    folder.Folder("in");
    folder.Mode("in", 0777);
    for (const char* name : {"in/Beta", "in/alpha", "in/.hidden", "in/folder.mpg"})
        folder.Folder(name);
    folder.Link("in/folderlink", "alpha");
    folder.Link("in/broken", "nowhere");
    folder.File("in/plain.mpg");
    folder.Mode("in/plain.mpg", 0666);
    folder.File("in/locked.mpg");
    folder.Mode("in/locked.mpg", 0444);
    folder.File("in/.hidden.mpg");
    folder.File("in/other.txt");
    folder.Fifo("in/pipe.mpg");
    folder.Link("in/link.mpg", "plain.mpg");
    const auto changed = [&](Browser& browser, int fileType) {
        browser.files->SetFileType(fileType);
        browser.Enter(folder.PathOf("in"));
        QStringList subfolders;
        for (int row = 0; row < browser.folders->count(); ++row)
            if (browser.folders->EntryKindOf(row) == TDirectoryListBox::EntryKind::Subfolder)
                subfolders << browser.folders->item(row)->text();
        return std::pair(subfolders, browser.Listed());
    };
    const QStringList subfolders{"alpha", "Beta", "folder.mpg", "folderlink"};
    {
        Browser browser(folder.Path());
        EXPECT_EQ(changed(browser, TFileType::ftReadOnly | TFileType::ftNormal),
                  std::pair(subfolders, QStringList{"link.mpg", "locked.mpg", "plain.mpg"}));
    }
    {
        Browser browser(folder.Path());
        EXPECT_EQ(changed(browser, TFileType::ftNormal | TFileType::ftDirectory |
                                       TFileType::ftHidden | TFileType::ftSystem),
                  std::pair(subfolders, QStringList{".hidden.mpg", "[folder.mpg]", "link.mpg",
                                                    "locked.mpg", "pipe.mpg", "plain.mpg"}));
    }
    EXPECT_TRUE(RunUnprivileged([&] {
        Browser browser(folder.Path());
        return changed(browser, TFileType::ftReadOnly) ==
               std::pair(subfolders, QStringList{"locked.mpg"});
    }));
}

TEST(FolderList, EnteringAnEntryMovesTheFileListAndTheCurrentFolder) {
    TempFolder folder;
    folder.Folder("sub");
    folder.File("sub/clip.mpg");
    folder.File("top.mpg");
    Browser browser(folder.Path());
    browser.files->SetSelected(0, true);
    TDirectoryListBox& list = *browser.folders;
    list.resize(122, 200);
    list.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));
    int selectedAtChange = -1;
    QStringList listedAtChange;
    QObject::connect(&list, &TDirectoryListBox::OnChange, [&] {
        selectedAtChange = browser.files->SelCount();
        listedAtChange = browser.Listed();
    });
    const int subRow = list.count() - 1;
    list.setCurrentRow(subRow);
    QTest::keyClick(&list, Qt::Key_Return);
    browser.Settle();
    EXPECT_EQ(list.Directory(), folder.PathOf("sub"));
    EXPECT_EQ(CurrentDirectory(), folder.PathOf("sub"));
    EXPECT_EQ(listedAtChange, QStringList{"clip.mpg"});
    EXPECT_EQ(selectedAtChange, 0);

    // A double click on the parent's entry goes back up.
    const int parentRow = list.currentRow() - 1;
    const QPoint at = list.visualItemRect(list.item(parentRow)).center();
    QTest::mouseDClick(list.windowHandle(), Qt::LeftButton, {}, list.viewport()->mapTo(&list, at));
    browser.Settle();
    EXPECT_EQ(list.Directory(), folder.Path());
    EXPECT_EQ(browser.Listed(), QStringList{"top.mpg"});
}

TEST(FolderList, TheSameTextDoesNothingAndAnotherSpellingChangesWithoutRereading) {
    TempFolder folder;
    folder.File("a.mpg");
    Browser browser(folder.Path());
    QSignalSpy changes(browser.folders.get(), &TDirectoryListBox::OnChange);
    browser.Enter(folder.Path());
    browser.Enter(QByteArray());
    EXPECT_EQ(changes.count(), 0);

    folder.File("b.mpg"); // not seen unless the list reads the folder again
    browser.Enter(folder.Path() + '/');
    EXPECT_EQ(changes.count(), 1);
    EXPECT_EQ(browser.folders->Directory(), folder.Path());
    EXPECT_EQ(browser.Listed(), QStringList{"a.mpg"});

    // Names that differ only by case are different folders here.
    folder.Folder("Case");
    folder.Folder("case");
    folder.File("Case/upper.mpg");
    folder.File("case/lower.mpg");
    browser.Enter(folder.PathOf("Case"));
    browser.Enter(folder.PathOf("case"));
    EXPECT_EQ(browser.Listed(), QStringList{"lower.mpg"});
}

TEST(FolderList, ARelativeValueIsTakenAgainstTheShownFolder) {
    TempFolder folder;
    folder.Folder("one");
    folder.Folder("one/two");
    Browser browser(folder.PathOf("one"));
    ChangeDirectory("/"); // whatever else moved the process
    browser.Enter("two");
    EXPECT_EQ(browser.folders->Directory(), folder.PathOf("one/two"));
    browser.Enter("..");
    EXPECT_EQ(browser.folders->Directory(), folder.PathOf("one"));
}

TEST(FolderList, AFolderThatCannotBeEnteredIsReportedByItsCodeAndTheListsStay) {
    TempFolder folder;
    folder.File("here.mpg");
    folder.File("plainfile");
    folder.Folder("locked");
    folder.Mode("locked", 0700);
    Browser browser(folder.Path());
    MessageRecorder messages;
    // What the error report shows of each code.
    const auto refused = [&](const QByteArray& target, int code) {
        messages.Clear();
        browser.Enter(target);
        return messages.Messages().size() == 1 &&
               messages.LastText() == EInOutError::TextOfCode(code) + QLatin1Char('.') &&
               browser.folders->Directory() == folder.Path() &&
               browser.Listed() == QStringList{"here.mpg"} && CurrentDirectory() == folder.Path();
    };
    EXPECT_TRUE(refused(folder.PathOf("missing"), 2));
    EXPECT_TRUE(refused(folder.PathOf("plainfile"), 3));
    // Root enters everything; an ordinary user is refused.
    EXPECT_TRUE(RunUnprivileged([&] { return refused(folder.PathOf("locked"), 5); }));
}

TEST(FolderList, AnErrorFromAnEnteredEntryIsReportedAndTheListStays) {
    TempFolder folder;
    folder.Folder("gone");
    Browser browser(folder.Path());
    MessageRecorder messages;
    rmdir(folder.PathOf("gone").constData());
    browser.folders->setCurrentRow(browser.folders->count() - 1);
    QTest::keyClick(browser.folders.get(), Qt::Key_Enter);
    browser.Settle();
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_EQ(messages.LastText(), QStringLiteral("ファイルが見つかりません."));
    EXPECT_EQ(browser.folders->Directory(), folder.Path());
    // The highlight is back on the folder still shown, not on the refused entry.
    EXPECT_EQ(browser.folders->EntryKindOf(browser.folders->currentRow()),
              TDirectoryListBox::EntryKind::Current);
}

TEST(FolderList, AfterAChangeOfFolderTheCurrentOneAndItsSubfoldersAreInSight) {
    TempFolder folder;
    for (const char* name : {"Videos", "Videos/Clips", "Videos/Clips/deep", "Videos/Clips/deep/a",
                             "Videos/Clips/deep/b", "Videos/Clips/deep/c"})
        folder.Folder(name);
    Browser browser(folder.Path());
    browser.folders->resize(122, 69); // as in the window
    browser.folders->show();
    browser.Enter(folder.PathOf("Videos/Clips/deep"));
    QCoreApplication::processEvents();
    const QRect inSight = browser.folders->viewport()->rect();
    const int current = browser.folders->currentRow();
    ASSERT_EQ(browser.folders->EntryKindOf(current + 1), TDirectoryListBox::EntryKind::Subfolder);
    for (int row = current; row <= current + 2; ++row) {
        const QRect entry = browser.folders->visualItemRect(browser.folders->item(row));
        EXPECT_TRUE(inSight.contains(entry)) << row << " " << entry.y();
    }
}

TEST(FolderList, ALinkedFolderKeepsThePathAsWalkedAndUpLeadsBack) {
    TempFolder folder;
    folder.Folder("real");
    folder.Folder("real/inner");
    folder.File("real/inner/clip.mpg");
    folder.Folder("from");
    folder.Link("from/alias", "../real/inner");
    Browser browser(folder.PathOf("from"));
    browser.Enter(folder.PathOf("from/alias"));
    EXPECT_EQ(browser.folders->Directory(), folder.PathOf("from/alias"));
    EXPECT_EQ(browser.Listed(), QStringList{"clip.mpg"});
    // Up one level: the entry above the current one.
    const int up = browser.folders->currentRow() - 1;
    EXPECT_EQ(browser.folders->EntryPath(up), folder.PathOf("from"));
    browser.Enter(browser.folders->EntryPath(up));
    EXPECT_EQ(browser.folders->Directory(), folder.PathOf("from"));
}

TEST(FolderList, NamesNotInUtf8ReadAsShiftJisOrShowTheirBytesAndStillOpen) {
    TempFolder folder;
    const QByteArray shiftJis("\x83\x65\x83\x58\x83\x67.mpg"); // テスト.mpg
    const QByteArray odd("\xff\xfe odd.mpg");
    const QByteArray oddFolder("new\nline\\\xff");
    folder.File(shiftJis);
    folder.File(odd);
    folder.Folder(oddFolder);
    folder.File(oddFolder + "/inside.mpg");
    Browser browser(folder.Path());
    EXPECT_EQ(browser.Listed(),
              (QStringList{QStringLiteral("\\xff\\xfe odd.mpg"), QStringLiteral("テスト.mpg")}));
    EXPECT_EQ(browser.files->ItemName(1), shiftJis);
    const int sub = browser.folders->count() - 1;
    EXPECT_EQ(browser.folders->item(sub)->text(), QStringLiteral("new\nline\\\\xff"));
    browser.Enter(browser.folders->EntryPath(sub));
    EXPECT_EQ(browser.Listed(), QStringList{"inside.mpg"});
}

TEST(FolderList, AFolderDeeperThanTheKernelsPathLimitIsListed) {
    TempFolder folder;
    QByteArray deep = folder.Path();
    const QByteArray step(200, 'd');
    {
        int at = open(deep.constData(), O_PATH | O_DIRECTORY);
        while (deep.size() <= 4300) {
            mkdirat(at, step.constData(), 0755);
            const int next = openat(at, step.constData(), O_PATH | O_DIRECTORY);
            close(at);
            at = next;
            deep += '/' + step;
        }
        const int clip = openat(at, "clip.mpg", O_CREAT | O_WRONLY, 0644);
        close(clip);
        close(at);
    }
    {
        MessageRecorder messages;
        Browser browser(folder.Path());
        browser.Enter(deep);
        EXPECT_TRUE(messages.Messages().empty());
        EXPECT_EQ(browser.folders->Directory(), deep);
        EXPECT_EQ(browser.Listed(), QStringList{"clip.mpg"});
    }
    const QByteArray remove = "rm -rf '" + folder.PathOf(step) + "'";
    EXPECT_EQ(std::system(remove.constData()), 0);
}

namespace {

// Three volumes of the test's own: the root and two folders standing for mounts.
class DriveSelection : public ::testing::Test {
protected:
    void SetUp() override {
        folder.Folder("diskA");
        folder.Folder("diskA/deep");
        folder.Folder("diskB");
        folder.File("diskB/b.mpg");
        folder.Folder("usb");
        SetVolumeLister([this] {
            std::vector<Volume> volumes(4);
            volumes[0].MountPoint = "/";
            volumes[1].MountPoint = folder.PathOf("diskA");
            volumes[1].Label = QStringLiteral("Films");
            volumes[2].MountPoint = folder.PathOf("diskB");
            volumes[3].MountPoint = folder.PathOf("usb");
            volumes[3].Kind = VolumeKind::Removable;
            return volumes;
        });
    }
    void TearDown() override { SetVolumeLister(nullptr); }

    TempFolder folder;
};

} // namespace

TEST_F(DriveSelection, ListsTheVolumesAndShowsTheOneHoldingTheFolder) {
    Browser browser(folder.PathOf("diskA/deep"));
    ASSERT_EQ(browser.drives->count(), 4);
    EXPECT_EQ(browser.drives->itemText(0), QStringLiteral("/: []"));
    EXPECT_EQ(browser.drives->itemText(1), QStringLiteral("diskA: [Films]"));
    EXPECT_EQ(browser.drives->itemText(3), QStringLiteral("usb"));
    EXPECT_EQ(browser.drives->currentIndex(), 1);
    browser.Enter(folder.PathOf("diskB"));
    EXPECT_EQ(browser.drives->currentIndex(), 2);
}

TEST_F(DriveSelection, ChoosingAVolumeReturnsToTheFolderLastShownOnIt) {
    Browser browser(folder.PathOf("diskA"));
    QSignalSpy changes(browser.folders.get(), &TDirectoryListBox::OnChange);
    browser.Enter(folder.PathOf("diskA/deep"));
    browser.drives->ChooseEntry(2);
    browser.Settle();
    EXPECT_EQ(browser.folders->Directory(), folder.PathOf("diskB"));
    EXPECT_EQ(browser.Listed(), QStringList{"b.mpg"});
    browser.drives->ChooseEntry(1);
    browser.Settle();
    EXPECT_EQ(browser.folders->Directory(), folder.PathOf("diskA/deep"));
    EXPECT_EQ(changes.count(), 3);
    browser.drives->ChooseEntry(1); // already selected: nothing
    browser.Settle();
    EXPECT_EQ(changes.count(), 3);
}

TEST_F(DriveSelection, AFolderGoneSinceFallsBackToTheVolumesRoot) {
    Browser browser(folder.PathOf("diskA/deep"));
    browser.drives->ChooseEntry(2);
    browser.Settle();
    rmdir(folder.PathOf("diskA/deep").constData());
    browser.drives->ChooseEntry(1);
    browser.Settle();
    EXPECT_EQ(browser.folders->Directory(), folder.PathOf("diskA"));
}

TEST_F(DriveSelection, AVolumeThatCannotBeEnteredIsReportedAndStaysChosen) {
    Browser browser(folder.PathOf("diskB"));
    MessageRecorder messages;
    rmdir(folder.PathOf("usb").constData());
    browser.drives->showPopup(); // lists again, still with the stale volume
    browser.drives->hidePopup();
    ASSERT_EQ(browser.drives->count(), 4);
    browser.drives->activated(3);
    browser.Settle();
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_EQ(messages.LastText(), QStringLiteral("ファイルが見つかりません."));
    EXPECT_EQ(browser.drives->currentIndex(), 3);
    EXPECT_EQ(browser.folders->Directory(), folder.PathOf("diskB"));
    EXPECT_EQ(browser.Listed(), QStringList{"b.mpg"});
}

TEST_F(DriveSelection, AWheelOverTheClosedUnfocusedSelectorChangesNothing) {
    Browser browser(folder.PathOf("diskA/deep"));
    const int before = browser.drives->currentIndex();
    for (const int delta : {-120, 120, -120}) {
        QWheelEvent wheel(QPointF(10, 5), QPointF(10, 5), QPoint(), QPoint(0, delta), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(browser.drives.get(), &wheel);
    }
    EXPECT_EQ(browser.drives->currentIndex(), before);
    EXPECT_EQ(browser.folders->Directory(), folder.PathOf("diskA/deep"));
}

TEST_F(DriveSelection, AfterAMediumVanishedChoosingADriveShowsAFolderThatExists) {
    folder.Folder("usb/films");
    Browser browser(folder.PathOf("usb/films"));
    MessageRecorder messages;
    // The stick is pulled out: its tree is gone and so is its volume.
    SetVolumeLister([this] {
        std::vector<Volume> volumes(1);
        volumes[0].MountPoint = "/";
        VolumeFolders::Remember("/", folder.PathOf("usb/films"));
        return volumes;
    });
    const QByteArray removal = "rm -rf '" + folder.PathOf("usb") + "'";
    ASSERT_EQ(std::system(removal.constData()), 0);
    browser.drives->showPopup();
    browser.drives->hidePopup();
    ASSERT_EQ(browser.drives->count(), 1);
    browser.drives->activated(0);
    browser.Settle();
    EXPECT_TRUE(messages.Messages().empty());
    EXPECT_TRUE(FileAttributes(browser.folders->Directory()).has_value())
        << browser.folders->Directory().constData();
    EXPECT_EQ(browser.folders->Directory(), QByteArray("/"));
}

TEST(MainWindowBrowser, StartsOnTheProcesssFolderWithTheVideoMask) {
    TempFolder folder;
    folder.File("clip.MPEG");
    folder.File("notes.txt");
    MainWindowHarness harness(folder.Path());
    TForm1& form = harness.Form();
    EXPECT_EQ(form.FileListBox1->Mask(), kMask);
    EXPECT_EQ(form.FileListBox1->FileType(), TFileType::ftReadOnly | TFileType::ftNormal);
    EXPECT_EQ(form.DirectoryListBox1->Directory(), folder.Path());
    ASSERT_EQ(form.FileListBox1->Count(), 1);
    EXPECT_EQ(form.FileListBox1->ItemText(0), QStringLiteral("clip.MPEG"));
    EXPECT_EQ(form.FileListBox1->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_EQ(form.FileListBox1->sizeHintForRow(0), TFileListBox::RowHeight);
}
