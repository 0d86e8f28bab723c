// SPDX-License-Identifier: GPL-3.0-or-later

// A network share whose server stops answering: every call on it waits until
// the server is back. The window must go on answering through it all, and the
// share's folders show once it answers again.

#include "media/MediaPlayer.h"
#include "platform/BackgroundWork.h"
#include "platform/DroppedFiles.h"
#include "platform/FileSystem.h"
#include "platform/MemoryWaveOutVolume.h"
#include "platform/MpvMediaService.h"
#include "platform/SimulatedMediaService.h"
#include "tests/E2eSupport.h"
#include "tests/TestSupport.h"
#include "ui/DirectoryListBox.h"
#include "ui/DriveComboBox.h"
#include "ui/FileListBox.h"
#include "ui/MainForm.h"
#include "ui/StatusBar.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <optional>
#include <string>

namespace {

// The share: a folder of the test's own served through FUSE as nas:/videos,
// holding a.mpg and sub/b.mpg; its server stops answering while its process is
// stopped. Released and unmounted however the test ends.
class HangingShare {
public:
    HangingShare() {
        QDir(scratch_.path()).mkpath(QStringLiteral("source/sub"));
        QDir(scratch_.path()).mkpath(QStringLiteral("nasvideos"));
        QFile(scratch_.filePath(QStringLiteral("source/a.mpg"))).open(QIODevice::WriteOnly);
        QFile(scratch_.filePath(QStringLiteral("source/sub/b.mpg"))).open(QIODevice::WriteOnly);
        daemon_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        daemon_.start(QStringLiteral("/usr/bin/python3"),
                      {QStringLiteral(QEL_HANGING_SHARE),
                       scratch_.filePath(QStringLiteral("source")),
                       scratch_.filePath(QStringLiteral("nasvideos"))});
        daemon_.waitForStarted(5000);
        for (int wait = 0; wait < 100 && !Mounted(); ++wait)
            QThread::msleep(50);
    }
    ~HangingShare() {
        Release();
        RunTool(QStringLiteral("umount"), {QStringLiteral("-l"), QFile::decodeName(Root())});
        daemon_.terminate();
        if (!daemon_.waitForFinished(3000))
            daemon_.kill();
        daemon_.waitForFinished(1000);
    }

    bool Mounted() const {
        QFile table(QStringLiteral("/proc/self/mountinfo"));
        return table.open(QIODevice::ReadOnly) && table.readAll().contains(Root() + " ") &&
               daemon_.state() == QProcess::Running;
    }
    QByteArray Root() const {
        return QFile::encodeName(scratch_.filePath(QStringLiteral("nasvideos")));
    }
    QByteArray Local() const { return QFile::encodeName(scratch_.path()); }
    void Hang() const { ::kill(static_cast<pid_t>(daemon_.processId()), SIGSTOP); }
    void Release() const { ::kill(static_cast<pid_t>(daemon_.processId()), SIGCONT); }

private:
    QTemporaryDir scratch_;
    QProcess daemon_;
};

bool ShowsBusy(const QWidget& list) {
    return list.cursor().shape() == Qt::BusyCursor;
}

} // namespace

TEST(HungShare, TheBrowserAnswersWhileAShareHangsAndShowsItsFoldersOnceItAnswers) {
    HangingShare share;
    ASSERT_TRUE(share.Mounted());
    MessageRecorder messages;
    MainWindowHarness harness(share.Local());
    TForm1& form = harness.Form();
    TDirectoryListBox& folders = *form.DirectoryListBox1;
    TDriveComboBox& drives = *form.DriveComboBox1;
    const auto settled = [&] {
        return QTest::qWaitFor([&] { return !folders.Reading(); }, 5000);
    };
    QStringList listed;
    const auto listing = [&] {
        listed.clear();
        for (int i = 0; i < form.FileListBox1->Count(); ++i)
            listed << form.FileListBox1->ItemText(i);
        return listed;
    };
    // Each call on the window's thread returns at once, and the lists say they read.
    const auto answersAtOnce = [&](const std::function<void()>& call) {
        QElapsedTimer clock;
        clock.start();
        call();
        const qint64 took = clock.elapsed();
        EXPECT_LT(took, 100);
        QTest::qWait(BackgroundWork::kSlowAfterMs + 100);
        return took < 100 && ShowsBusy(folders) && ShowsBusy(*form.FileListBox1);
    };

    share.Hang();
    // The drive list comes from the mount table: the share is listed, and its
    // entry chosen, without a call on it.
    drives.Refresh();
    int shareEntry = -1;
    for (int i = 0; i < drives.count(); ++i)
        if (drives.itemText(i) == QStringLiteral("nasvideos: nas:/videos"))
            shareEntry = i;
    ASSERT_GE(shareEntry, 0);
    EXPECT_TRUE(answersAtOnce([&] { drives.activated(shareEntry); }));
    EXPECT_EQ(drives.currentIndex(), shareEntry);
    // A newer choice goes ahead of it.
    folders.SetDirectory(share.Local() + "/source");
    ASSERT_TRUE(settled());
    EXPECT_EQ(folders.Directory(), share.Local() + "/source");
    EXPECT_FALSE(ShowsBusy(folders));

    EXPECT_TRUE(answersAtOnce([&] { form.WMDropFiles(DroppedFiles({share.Root() + "/a.mpg"})); }));
    share.Release();
    ASSERT_TRUE(settled());
    EXPECT_EQ(folders.Directory(), share.Root());
    EXPECT_EQ(listing(), QStringList{"a.mpg"});
    EXPECT_EQ(folders.EntryPath(folders.count() - 1), share.Root() + "/sub");

    share.Hang();
    EXPECT_TRUE(answersAtOnce([&] {
        folders.setCurrentRow(folders.count() - 1);
        QTest::keyClick(&folders, Qt::Key_Return);
    }));
    EXPECT_EQ(folders.Directory(), share.Root());
    share.Release();
    ASSERT_TRUE(settled());
    EXPECT_EQ(folders.Directory(), share.Root() + "/sub");
    EXPECT_EQ(listing(), QStringList{"b.mpg"});
    EXPECT_FALSE(ShowsBusy(folders));
    EXPECT_TRUE(messages.Messages().empty()) << messages.LastText().toStdString();

    // A play of the folder shown, chosen while another is still read, goes ahead
    // of that read: the play list and the names shown stay the played file's.
    folders.SetDirectory(share.Local() + "/source");
    ASSERT_TRUE(settled());
    harness.Media().AddFile(share.Local() + "/source/a.mpg", {60000, 320, 240, {}});
    share.Hang();
    folders.SetDirectory(share.Root() + "/sub");
    form.FileListBox1->SetSelected(0, true);
    form.Action1->trigger();
    share.Release();
    QTest::qWait(300);
    ASSERT_TRUE(settled());
    EXPECT_EQ(folders.Directory(), share.Local() + "/source");
    EXPECT_EQ(listing(), (QStringList{"a.mpg"}));
    EXPECT_EQ(form.StatusBar1->PanelText(5).trimmed(), QStringLiteral("a.mpg"));
    EXPECT_EQ(form.MediaPlayer1->Mode(), mpPlaying);
}

namespace {

const std::vector<unsigned> kUsers{30000, 30001};

// The about box of the process, if it shows one.
std::optional<QString> AboutBox(const QelProcess& qel) {
    const auto found =
        RunTool(QStringLiteral("xdotool"),
                {QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--onlyvisible"),
                 QStringLiteral("--pid"), QString::number(qel.Pid()), QStringLiteral("--name"),
                 QStringLiteral("^About$")});
    if (!found)
        return std::nullopt;
    return QString::fromLatin1(found->trimmed().split('\n').first());
}

// Closes the about box, if one shows, by a click on its OK button at the middle
// of its foot; true once none shows.
bool CloseAboutBox(const QelProcess& qel) {
    std::optional<QString> box = AboutBox(qel);
    if (!box)
        return true;
    if (const std::optional<QRect> shape = qel.Geometry(*box))
        qel.Click(*box, QPoint(shape->width() / 2, shape->height() - 21));
    for (int wait = 0; wait < 20 && box; ++wait) {
        QThread::msleep(100);
        box = AboutBox(qel);
    }
    return !box;
}

// How long the window takes to show its about box (Ctrl+Alt+A), which it then
// closes again; a minute when it does not show it. The search that finds the
// box is not counted: on a loaded machine the tool alone takes 0.1 s.
qint64 AboutBoxDelay(QelProcess& qel, const QString& window) {
    if (!qel.Key(window, QStringLiteral("ctrl+alt+a")))
        return 60000;
    QElapsedTimer clock;
    clock.start();
    bool shown = false;
    qint64 searched = 0;
    while (!shown && clock.elapsed() < 3000) {
        searched = clock.elapsed();
        shown = AboutBox(qel).has_value();
    }
    return shown && CloseAboutBox(qel) ? searched : 60000;
}

// Where each thread of a process waits, for a failure to show.
std::string WhereItWaits(qint64 pid) {
    std::string where;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile name(tasks.filePath(task + QStringLiteral("/comm")));
        QFile wait(tasks.filePath(task + QStringLiteral("/wchan")));
        if (name.open(QIODevice::ReadOnly) && wait.open(QIODevice::ReadOnly))
            where +=
                name.readAll().trimmed().toStdString() + ": " + wait.readAll().toStdString() + "; ";
    }
    return where;
}

// Ends the program as asked (the Quit command or a signal) and checks that it
// ended at once, with code 0 and the user's volume back.
void ExpectItEndsAtOnce(QelProcess& qel, const QString& window, int signal) {
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(signal != 0 ? qel.Signal(signal) : qel.Key(window, QStringLiteral("ctrl+alt+q")));
    const auto exitCode = qel.WaitForExit(1000);
    ASSERT_TRUE(exitCode) << "still running " << clock.elapsed()
                          << " ms after being asked to end: " << WhereItWaits(qel.Pid());
    EXPECT_EQ(*exitCode, 0);
    EXPECT_EQ(SinkChannels(), kUsers);
}

} // namespace

TEST(HungShareE2e, AShareThatHangsAtStartHoldsBackNeitherTheWindowNorTheExit) {
    QEL_REQUIRE_DISPLAY();
    HangingShare share;
    ASSERT_TRUE(share.Mounted());
    share.Hang();
    // Started in a folder of its own, then with a folder on the share.
    for (const auto& [arguments, signal] :
         {std::pair(QStringList{}, 0),
          std::pair(QStringList{QFile::decodeName(share.Root() + "/sub")}, SIGTERM)}) {
        ASSERT_TRUE(SetSinkChannels({QStringLiteral("30000"), QStringLiteral("30001")}));
        QelProcess qel(QFile::decodeName(share.Local()), arguments);
        const auto window = qel.WaitForWindow();
        ASSERT_TRUE(window) << "no window, started with " << arguments.join(' ').toStdString();
        QThread::msleep(300); // the start folder's read under way, or stuck
        EXPECT_LE(AboutBoxDelay(qel, *window), 200);
        ExpectItEndsAtOnce(qel, *window, signal);
    }
}

TEST(HungShareE2e, ChoicesOnAShareThatHangsLeaveTheWindowAnswering) {
    QEL_REQUIRE_DISPLAY();
    HangingShare share;
    ASSERT_TRUE(share.Mounted());
    ASSERT_TRUE(SetSinkChannels({QStringLiteral("30000"), QStringLiteral("30001")}));
    QelProcess qel(QFile::decodeName(share.Local()));
    const auto window = qel.WaitForWindow();
    ASSERT_TRUE(window);
    QThread::msleep(500);

    // Its drive, chosen from the drive list's popup while it hangs.
    share.Hang();
    ASSERT_TRUE(qel.Click(*window, QPoint(460, 14)));
    QThread::msleep(300);
    RunTool(QStringLiteral("xdotool"), {QStringLiteral("type"), QStringLiteral("nasv")});
    RunTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Return")});
    QThread::msleep(300);
    EXPECT_LE(AboutBoxDelay(qel, *window), 200) << "choosing the share's drive";
    share.Release();
    QThread::msleep(500);
    ASSERT_TRUE(CloseAboutBox(qel)); // shown late by a window that was held

    // Its subfolder, the last entry of the folder list, entered with Return.
    share.Hang();
    ASSERT_TRUE(qel.Click(*window, QPoint(440, 40)));
    RunTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("End")});
    RunTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Return")});
    QThread::msleep(300);
    EXPECT_LE(AboutBoxDelay(qel, *window), 200) << "entering its subfolder";
    ExpectItEndsAtOnce(qel, *window, 0);
}

TEST(HungShareE2e, PlayOfAFileOnAShareThatHangsIsReportedInTimeAndQuitDoesNotWaitForIt) {
    QEL_REQUIRE_DISPLAY();
    HangingShare share;
    ASSERT_TRUE(share.Mounted());
    {
        // In this process, so that a timer on the window's thread tells how late
        // the window answers while the open waits on the share.
        MessageRecorder messages;
        CurrentFolderGuard folderGuard;
        ChangeDirectory(share.Root());
        ResetPlayerState();
        MemoryOutputDevice device;
        TForm1 form(std::make_unique<MpvMediaService>(),
                    std::make_unique<MemoryWaveOutVolume>(device));
        Form1 = &form;
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
        ASSERT_TRUE(QTest::qWaitFor([&] { return form.FileListBox1->Count() == 1; }, 5000));
        form.FileListBox1->SetSelected(0, true);
        form.Action11->trigger();
        share.Hang();
        qint64 latest = 0;
        QElapsedTimer since;
        QTimer probe;
        QObject::connect(&probe, &QTimer::timeout,
                         [&] { latest = std::max(latest, since.restart() - 20); });
        since.start();
        probe.start(20);
        QElapsedTimer clock;
        clock.start();
        form.Action1->trigger();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !messages.Messages().empty(); },
                                    MpvMediaService::kOpenTimeoutMs + 1000));
        EXPECT_LT(clock.elapsed(), MpvMediaService::kOpenTimeoutMs + 500);
        EXPECT_EQ(messages.LastText(), QStringLiteral("The file took too long to open."));
        EXPECT_LE(latest, 200);
        EXPECT_EQ(form.MediaPlayer1->State(), TMediaState::Idle);
        Form1 = nullptr;
        share.Release();
    }

    // The program, asked to quit 1 s into such an open.
    ASSERT_TRUE(SetSinkChannels({QStringLiteral("30000"), QStringLiteral("30001")}));
    QelProcess qel(QFile::decodeName(share.Root()));
    const auto window = qel.WaitForWindow();
    ASSERT_TRUE(window);
    QThread::msleep(800);                              // the folder read
    ASSERT_TRUE(qel.Click(*window, QPoint(440, 110))); // the file list's first entry
    QThread::msleep(200);
    share.Hang();
    ASSERT_TRUE(qel.Key(*window, QStringLiteral("ctrl+alt+x")));
    QThread::msleep(1000);
    ExpectItEndsAtOnce(qel, *window, 0);

    // Quit while the file that plays is on the share, just hung: the window goes
    // and the volume is back at once. The process ends once the share answers:
    // the kernel holds the last close of the file in FUSE's flush until then.
    share.Release();
    const QString shared = QFile::decodeName(share.Local()) + QStringLiteral("/source/a.mpg");
    ASSERT_TRUE(QFile::remove(shared) &&
                QFile::copy(QStringLiteral(QEL_TEST_CLIPS "/a-long.mpg"), shared));
    QelProcess playing(QFile::decodeName(share.Root()));
    const auto shown = playing.WaitForWindow();
    ASSERT_TRUE(shown);
    QThread::msleep(800);
    ASSERT_TRUE(playing.Click(*shown, QPoint(440, 110)));
    ASSERT_TRUE(playing.Key(*shown, QStringLiteral("ctrl+alt+x")));
    QThread::msleep(1500);
    ASSERT_TRUE(playing.Key(*shown, QStringLiteral("ctrl+alt+w")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return SinkChannels() != kUsers; }, 2000));
    share.Hang();
    ASSERT_TRUE(playing.Key(*shown, QStringLiteral("ctrl+alt+q")));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return !playing.Geometry(*shown) && SinkChannels() == kUsers; }, 1000))
        << "window shown: " << playing.Geometry(*shown).has_value()
        << ", device: " << SinkChannels().front() << ", " << WhereItWaits(playing.Pid());
    share.Release();
    const auto exitCode = playing.WaitForExit(2000);
    ASSERT_TRUE(exitCode);
    EXPECT_EQ(*exitCode, 0);
}
