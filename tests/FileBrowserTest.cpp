#include "platform/FileSystem.h"
#include "platform/Volumes.h"
#include "shell/Exceptions.h"
#include "tests/TestSupport.h"
#include "ui/DirectoryListBox.h"
#include "ui/DriveComboBox.h"
#include "ui/FileListBox.h"
#include "ui/MainForm.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

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
    EXPECT_EQ(browser.Listed(),
              (QStringList{".hidden.mpg", "[folder.mpg]", "locked.mpg", "plain.mpg"}));
    EXPECT_TRUE(RunUnprivileged([&] {
        browser.files->SetFileType(TFileType::ftReadOnly);
        return browser.Listed() == QStringList{"locked.mpg"};
    }));
}

TEST(FileList, APatternNamedTwiceListsItsFilesTwice) {
    TempFolder folder;
    folder.File("a.mpg");
    folder.File("b.wmv");
    Browser browser(folder.Path());
    browser.files->SetMask(QStringLiteral("*.mpg;*.wmv;*.mpg"));
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
        browser.folders->SetDirectory(folder.PathOf("sealed"));
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
    EXPECT_EQ(list.Directory(), folder.PathOf("sub"));
    EXPECT_EQ(CurrentDirectory(), folder.PathOf("sub"));
    EXPECT_EQ(listedAtChange, QStringList{"clip.mpg"});
    EXPECT_EQ(selectedAtChange, 0);

    // A double click on the parent's entry goes back up.
    const int parentRow = list.currentRow() - 1;
    const QPoint at = list.visualItemRect(list.item(parentRow)).center();
    QTest::mouseDClick(list.windowHandle(), Qt::LeftButton, {}, list.viewport()->mapTo(&list, at));
    EXPECT_EQ(list.Directory(), folder.Path());
    EXPECT_EQ(browser.Listed(), QStringList{"top.mpg"});
}

TEST(FolderList, TheSameTextDoesNothingAndAnotherSpellingChangesWithoutRereading) {
    TempFolder folder;
    folder.File("a.mpg");
    Browser browser(folder.Path());
    QSignalSpy changes(browser.folders.get(), &TDirectoryListBox::OnChange);
    browser.folders->SetDirectory(folder.Path());
    browser.folders->SetDirectory(QByteArray());
    EXPECT_EQ(changes.count(), 0);

    folder.File("b.mpg"); // not seen unless the list reads the folder again
    browser.folders->SetDirectory(folder.Path() + '/');
    EXPECT_EQ(changes.count(), 1);
    EXPECT_EQ(browser.folders->Directory(), folder.Path());
    EXPECT_EQ(browser.Listed(), QStringList{"a.mpg"});

    // Names that differ only by case are different folders here.
    folder.Folder("Case");
    folder.Folder("case");
    folder.File("Case/upper.mpg");
    folder.File("case/lower.mpg");
    browser.folders->SetDirectory(folder.PathOf("Case"));
    browser.folders->SetDirectory(folder.PathOf("case"));
    EXPECT_EQ(browser.Listed(), QStringList{"lower.mpg"});
}

TEST(FolderList, ARelativeValueIsTakenAgainstTheShownFolder) {
    TempFolder folder;
    folder.Folder("one");
    folder.Folder("one/two");
    Browser browser(folder.PathOf("one"));
    ChangeDirectory("/"); // whatever else moved the process
    browser.folders->SetDirectory("two");
    EXPECT_EQ(browser.folders->Directory(), folder.PathOf("one/two"));
    browser.folders->SetDirectory("..");
    EXPECT_EQ(browser.folders->Directory(), folder.PathOf("one"));
}

TEST(FolderList, AFolderThatCannotBeEnteredRaisesItsCodeAndKeepsTheLists) {
    TempFolder folder;
    folder.File("here.mpg");
    folder.File("plainfile");
    folder.Folder("locked");
    folder.Mode("locked", 0700);
    Browser browser(folder.Path());
    const auto expectRefusal = [&](const QByteArray& target, int code) {
        try {
            browser.folders->SetDirectory(target);
            ADD_FAILURE() << "entered " << target.constData();
        } catch (const EInOutError& error) {
            EXPECT_EQ(error.ErrorCode, code) << target.constData();
            EXPECT_EQ(error.Message, EInOutError::TextOfCode(code));
        }
        EXPECT_EQ(browser.folders->Directory(), folder.Path());
        EXPECT_EQ(browser.Listed(), QStringList{"here.mpg"});
        EXPECT_EQ(CurrentDirectory(), folder.Path());
    };
    expectRefusal(folder.PathOf("missing"), 2);
    expectRefusal(folder.PathOf("plainfile"), 3);
    // Root enters everything; an ordinary user is refused.
    EXPECT_TRUE(RunUnprivileged([&] {
        try {
            browser.folders->SetDirectory(folder.PathOf("locked"));
        } catch (const EInOutError& error) {
            return error.ErrorCode == 5 && browser.folders->Directory() == folder.Path() &&
                   CurrentDirectory() == folder.Path();
        }
        return false;
    }));
}

TEST(FolderList, AnErrorFromAnEnteredEntryIsReportedAndTheListStays) {
    TempFolder folder;
    folder.Folder("gone");
    Browser browser(folder.Path());
    MessageRecorder messages;
    rmdir(folder.PathOf("gone").constData());
    browser.folders->setCurrentRow(browser.folders->count() - 1);
    QTest::keyClick(browser.folders.get(), Qt::Key_Enter);
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_EQ(messages.LastText(), QStringLiteral("ファイルが見つかりません."));
    EXPECT_EQ(browser.folders->Directory(), folder.Path());
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
    browser.folders->SetDirectory(folder.PathOf("diskB"));
    EXPECT_EQ(browser.drives->currentIndex(), 2);
}

TEST_F(DriveSelection, ChoosingAVolumeReturnsToTheFolderLastShownOnIt) {
    Browser browser(folder.PathOf("diskA"));
    QSignalSpy changes(browser.folders.get(), &TDirectoryListBox::OnChange);
    browser.folders->SetDirectory(folder.PathOf("diskA/deep"));
    browser.drives->ChooseEntry(2);
    EXPECT_EQ(browser.folders->Directory(), folder.PathOf("diskB"));
    EXPECT_EQ(browser.Listed(), QStringList{"b.mpg"});
    browser.drives->ChooseEntry(1);
    EXPECT_EQ(browser.folders->Directory(), folder.PathOf("diskA/deep"));
    EXPECT_EQ(changes.count(), 3);
    browser.drives->ChooseEntry(1); // already selected: nothing
    EXPECT_EQ(changes.count(), 3);
}

TEST_F(DriveSelection, AFolderGoneSinceFallsBackToTheVolumesRoot) {
    Browser browser(folder.PathOf("diskA/deep"));
    browser.drives->ChooseEntry(2);
    rmdir(folder.PathOf("diskA/deep").constData());
    browser.drives->ChooseEntry(1);
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
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_EQ(messages.LastText(), QStringLiteral("ファイルが見つかりません."));
    EXPECT_EQ(browser.drives->currentIndex(), 3);
    EXPECT_EQ(browser.folders->Directory(), folder.PathOf("diskB"));
    EXPECT_EQ(browser.Listed(), QStringList{"b.mpg"});
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
