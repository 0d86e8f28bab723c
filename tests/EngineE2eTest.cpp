// SPDX-License-Identifier: GPL-3.0-or-later

// The real window with the libmpv service under the X server: real clips, real
// pictures on the screen.

#include "media/MediaPlayer.h"
#include "platform/EngineDiagnostics.h"
#include "platform/FileSystem.h"
#include "platform/MemoryWaveOutVolume.h"
#include "platform/MpvMediaService.h"
#include "platform/MpvVideoWidget.h"
#include "tests/E2eSupport.h"
#include "tests/RealEngineFixture.h"
#include "tests/TestSupport.h"
#include "ui/Controls.h"
#include "ui/FileListBox.h"
#include "ui/MainForm.h"
#include "ui/ProgressBar.h"
#include "ui/StatusBar.h"
#include "ui/ToolBar.h"
#include "ui/Unit1.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QWindow>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <unistd.h>

namespace {

bool IsBlack(QColor c) {
    return c.red() < 24 && c.green() < 24 && c.blue() < 24;
}
bool IsNotBlack(QColor c) {
    return !IsBlack(c);
}

// The energy of the differences between adjacent lines against that of lines
// two apart: fields woven from different moments comb every moving edge, which
// drives the first far above the second.
double CombRatio(const QImage& picture) {
    double adjacent = 0;
    double twoApart = 0;
    for (int y = 0; y + 2 < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const int here = qGray(picture.pixel(x, y));
            const int next = here - qGray(picture.pixel(x, y + 1));
            const int nextButOne = here - qGray(picture.pixel(x, y + 2));
            adjacent += next * next;
            twoApart += nextButOne * nextButOne;
        }
    return adjacent / std::max(twoApart, 1.0);
}

class EachClip : public RealEngine, public ::testing::WithParamInterface<const char*> {};

} // namespace

TEST_P(EachClip, PlaysStretchedOverTheVideoAreaAndStopsAtItsEnd) {
    const std::int64_t framesBefore = EngineDiagnostics::Instance().FramesDrawn();
    PlayOnly(GetParam());
    ASSERT_TRUE(messages.Messages().empty()) << messages.LastText().toStdString();
    TMediaPlayer& player = *form->MediaPlayer1;
    ASSERT_NE(player.DeviceID(), 0);
    EXPECT_EQ(VideoWidth, 320);
    EXPECT_EQ(VideoHeight, 240);
    // As long as the container says, within a frame: its whole length, or its
    // longest stream's, which mpv 0.40 takes where an ASF video starts late.
    const auto probed =
        RunTool(QStringLiteral("ffprobe"),
                {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
                 QStringLiteral("format=duration:stream=duration"), QStringLiteral("-of"),
                 QStringLiteral("csv=p=0"),
                 // The player's process stands at the root, not in the shown folder.
                 QString::fromLocal8Bit(CurrentDirectory() + '/' + GetParam())});
    ASSERT_TRUE(probed);
    const QStringList lengths = QString::fromUtf8(*probed).split('\n', Qt::SkipEmptyParts);
    ASSERT_GE(lengths.size(), 2);
    double longestStream = 0;
    for (qsizetype i = 0; i + 1 < lengths.size(); ++i)
        longestStream = std::max(longestStream, lengths[i].trimmed().toDouble() * 1000.0);
    const double whole = lengths.last().trimmed().toDouble() * 1000.0;
    EXPECT_TRUE(std::abs(player.Length() - whole) <= 40 ||
                std::abs(player.Length() - longestStream) <= 40)
        << player.Length() << " against " << whole << " and " << longestStream;
    EXPECT_EQ(form->StatusBar1->PanelText(2), QStringLiteral(" 400x 300/  320x 240"));
    // The suite runs once per path; each run must really draw through its own.
    const auto* surface = form->findChild<MpvVideoWidget*>(QStringLiteral("VideoSurface"));
    ASSERT_NE(surface, nullptr);
    EXPECT_EQ(surface->Path(),
              qgetenv("QEL_RENDER_PATH") == "opengl" ? RenderPath::OpenGL : RenderPath::Software);

    ASSERT_TRUE(WaitFor([&] { return player.Position() > 300; }, 5000));
    const QImage area = VideoArea();
    area.save(QCoreApplication::applicationDirPath() +
              QStringLiteral("/engine-%1.png").arg(QString::fromLatin1(GetParam())));
    // The bars fill the top two thirds of the picture: stretched, they reach the
    // area's right edge and two thirds of its height.
    EXPECT_GT(ShareOfPixels(area, QRect(0, 0, 400, 190), IsNotBlack), 0.97);
    EXPECT_GT(ShareOfPixels(area, QRect(330, 0, 70, 190), IsNotBlack), 0.97);
    EXPECT_GT(ShareOfPixels(area, QRect(0, 170, 400, 25), IsNotBlack), 0.9);

    // Right after a seek the position is the chosen point, and it goes on from there.
    player.SetStartPosition(1000);
    player.Play();
    EXPECT_EQ(player.Position(), 1000);
    int previous = 1000;
    QElapsedTimer sinceSeek;
    sinceSeek.start();
    for (int i = 0; i < 10; ++i) {
        QTest::qWait(30);
        const int now = player.Position();
        EXPECT_GE(now, previous) << "the position went back";
        previous = now;
    }
    EXPECT_GE(previous, 1000);
    EXPECT_LE(previous, 1000 + sinceSeek.elapsed() + 2 * 40);

    // Pause holds the picture where it is; Resume goes on from there.
    form->Action3->trigger();
    EXPECT_EQ(player.Mode(), mpPaused);
    QTest::qWait(100);
    const int pausedAt = player.Position();
    QTest::qWait(250);
    EXPECT_EQ(player.Position(), pausedAt);
    form->Action3->trigger();
    EXPECT_EQ(player.Mode(), mpPlaying);
    ASSERT_TRUE(WaitFor([&] { return player.Position() > pausedAt; }, 2000));

    ASSERT_TRUE(WaitFor([&] { return player.Mode() == mpStopped; }, 6000));
    EXPECT_EQ(player.Position(), player.Length());
    // About 1.3 s were played at 25 frames a second (the seek skipped the rest):
    // the frames reached the window at that rate, not a few a second.
    EXPECT_GE(EngineDiagnostics::Instance().FramesDrawn() - framesBefore, 25);

    // Play at the end starts again, and the very next query already says so.
    player.Play();
    EXPECT_EQ(player.Mode(), mpPlaying);
    EXPECT_EQ(player.Position(), 0);
    QTest::qWait(150);
    EXPECT_EQ(player.Mode(), mpPlaying);
    EXPECT_LT(player.Position(), 600);
    form->Action2->trigger();
    EXPECT_EQ(player.DeviceID(), 0);
}

INSTANTIATE_TEST_SUITE_P(Containers, EachClip,
                         ::testing::Values("bars.mpg", "bars.mpeg", "bars.wmv", "bars.asf"),
                         [](const auto& info) {
                             return QString::fromLatin1(info.param).replace('.', '_').toStdString();
                         });

// Read in a child process and reported as an event; Xvfb has no GPU, so its
// OpenGL is Mesa's rasteriser. A Play chosen before the report goes on after it.
TEST(RenderPath, TheRenderersNameArrivesLaterAndAnOpenBeforeItWaitsForIt) {
    QEL_REQUIRE_DISPLAY();
    QByteArrayList reports;
    QByteArrayList late;
    {
        RendererProbe probe;
        probe.Start([&](const QByteArray& name) { reports << name; }, 5000);
        EXPECT_TRUE(reports.isEmpty()) << "the start waited for the child";
        // One that cannot answer within its deadline is ended and reads as unknown.
        RendererProbe hurried;
        hurried.Start([&](const QByteArray& name) { late << name; }, 1);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !reports.isEmpty(); }, 5000));
        // Both children are reaped, the one ended at its deadline too.
        const auto children = [] {
            QFile list(QStringLiteral("/proc/self/task/%1/children").arg(::getpid()));
            return list.open(QIODevice::ReadOnly) ? list.readAll().trimmed() : QByteArray("?");
        };
        EXPECT_TRUE(QTest::qWaitFor([&] { return children().isEmpty(); }, 3000))
            << children().constData();
    }
    ASSERT_EQ(reports.size(), 1);
    EXPECT_TRUE(IsSoftwareRasteriser(reports.front())) << reports.front().constData();
    EXPECT_EQ(late, QByteArrayList{QByteArray()});
    EXPECT_TRUE(IsSoftwareRasteriser("Software Rasterizer"));
    EXPECT_FALSE(IsSoftwareRasteriser("AMD Radeon RX 6600 (radeonsi, navi23, LLVM 15.0.6)"));

    const QByteArray forced = qgetenv("QEL_RENDER_PATH");
    qunsetenv("QEL_RENDER_PATH");
    QWidget area;
    area.resize(320, 240);
    area.show();
    std::optional<MediaDeviceId> opened;
    {
        MpvMediaService media;
        media.PrepareDisplayWindow(&area);
        media.Open(QByteArray(QEL_TEST_CLIPS) + "/bars.mpg",
                   [&](MediaError error, MediaDeviceId device) {
                       EXPECT_EQ(error, MediaErrors::None);
                       opened = device;
                   });
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return opened.has_value(); }, MpvMediaService::kOpenTimeoutMs));
        const auto* surface = area.findChild<MpvVideoWidget*>();
        ASSERT_NE(surface, nullptr);
        EXPECT_EQ(surface->Path(), RenderPath::Software);
    }
    if (!forced.isEmpty())
        qputenv("QEL_RENDER_PATH", forced);
    EXPECT_NE(opened.value_or(0), 0);
}

TEST_F(RealEngine, AFileWithoutAPictureIsRefused) {
    PlayOnly("cover.mpg"); // a song with its album art is still no picture
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_EQ(messages.LastText(), QStringLiteral("このファイルは再生できません。"));
    PlayOnly("sound.mpg");
    ASSERT_EQ(messages.Messages().size(), 2u);
    EXPECT_EQ(messages.LastText(), QStringLiteral("このファイルは再生できません。"));
    EXPECT_EQ(form->MediaPlayer1->DeviceID(), 0);
    EXPECT_TRUE(form->FileListBox1->isEnabled());
    EXPECT_TRUE(form->Image1->isVisible());
}

TEST_F(RealEngine, BrokenFilesAndPlaylistsAreReportedWithTheEnginesReason) {
    for (const char* name : {"random.mpg", "playlist.mpg"}) {
        const std::size_t before = messages.Messages().size();
        PlayOnly(name);
        ASSERT_EQ(messages.Messages().size(), before + 1) << name;
        const QString text = messages.LastText();
        EXPECT_FALSE(text.isEmpty()) << name;
        EXPECT_NE(text, QStringLiteral("原因不明のエラー")) << name;
        EXPECT_EQ(form->MediaPlayer1->DeviceID(), 0) << name;
        EXPECT_TRUE(form->FileListBox1->isEnabled()) << name;
        EXPECT_FALSE(form->Panel4->isVisible()) << name;
        EXPECT_TRUE(form->StatusBar1->PanelText(5).isEmpty()) << name;
    }
    // And a good file still plays after them.
    PlayOnly("bars.mpg");
    EXPECT_NE(form->MediaPlayer1->DeviceID(), 0);
}

// Next and Previous switch files without the new one standing on its first
// frame while the sound output is opened again.
TEST_F(RealEngine, NextAndPreviousMoveTheNewFileWithinASecond) {
    PlaySelection({"a-long.mpg", "bars.mpg"});
    ASSERT_TRUE(WaitFor([&] { return form->MediaPlayer1->Position() > 500; }, 5000));
    for (QAction* command : {form->Action4, form->Action5}) { // Next, Previous
        QElapsedTimer clock;
        clock.start();
        command->trigger();
        ASSERT_TRUE(OpenEnded());
        ASSERT_NE(form->MediaPlayer1->DeviceID(), 0);
        EXPECT_TRUE(WaitFor([&] { return form->MediaPlayer1->Position() > 100; }, 1000))
            << Playing().toStdString() << " stood still";
        std::printf("%s: the position moved %lld ms after the command\n",
                    Playing().toUtf8().constData(), static_cast<long long>(clock.elapsed()));
    }
}

// The sound output is opened anew on the first play and on a play after Stop;
// the picture must not stand on its first frame while it starts.
TEST_F(RealEngine, TheFirstPlayAndAPlayAfterStopMoveAtOnce) {
    for (const char* when : {"first play", "play after stop"}) {
        QElapsedTimer clock;
        clock.start();
        PlayOnly("a-long.mpg");
        ASSERT_NE(form->MediaPlayer1->DeviceID(), 0);
        const qint64 opened = clock.elapsed();
        EXPECT_TRUE(WaitFor([&] { return form->MediaPlayer1->Position() > 250; }, 700))
            << when << ": the position stood at " << form->MediaPlayer1->Position();
        std::printf("%s: opened in %lld ms, moving %lld ms after the command\n", when,
                    static_cast<long long>(opened), static_cast<long long>(clock.elapsed()));
        form->Action2->trigger(); // Stop
        ASSERT_EQ(form->MediaPlayer1->DeviceID(), 0);
        QTest::qWait(300); // the engine has stopped and closed the sound output
    }
}

TEST_F(RealEngine, TheSelectionPlaysThroughInListOrderAndStopsAtTheEndOfTheLast) {
    PlaySelection({"seq-3.mpg", "seq-1.mpg", "seq-2.mpg"});
    QStringList played{Playing()};
    bool sawGreen = false;
    const bool ended = WaitFor(
        [&] {
            if (Playing() != played.last())
                played << Playing();
            if (Playing() == QLatin1String("seq-2.mpg") && form->MediaPlayer1->Position() > 300 &&
                !sawGreen)
                sawGreen = ShareOfPixels(VideoArea(), QRect(0, 0, 400, 300), [](QColor c) {
                               return c.green() > 200 && c.red() < 60 && c.blue() < 60;
                           }) > 0.95;
            return played.size() == 3 && form->MediaPlayer1->Mode() == mpStopped;
        },
        10000);
    ASSERT_TRUE(ended) << played.join(' ').toStdString();
    EXPECT_EQ(played, (QStringList{"seq-1.mpg", "seq-2.mpg", "seq-3.mpg"}));
    EXPECT_TRUE(sawGreen) << "the second file's picture was never on the screen";
    // The last file stays open at its end, in the playing look.
    QTest::qWait(400);
    EXPECT_EQ(Playing(), QStringLiteral("seq-3.mpg"));
    EXPECT_EQ(form->StatusBar1->PanelText(0), QStringLiteral("   3/    3"));
    EXPECT_TRUE(form->ToolButton5->isEnabled());
    EXPECT_FALSE(form->FileListBox1->isEnabled());
    EXPECT_TRUE(messages.Messages().empty());
}

// A file of one frame is a video, not a picture to look at for a second.
TEST_F(RealEngine, AFileOfOneFrameEndsAtOnceAndTheNextPlays) {
    QElapsedTimer clock;
    clock.start();
    PlaySelection({"one-frame.mpg", "seq-1.mpg"});
    ASSERT_TRUE(WaitFor([&] { return Playing() == QLatin1String("seq-1.mpg"); }, 5000));
    EXPECT_LT(clock.elapsed(), 800);
    EXPECT_TRUE(messages.Messages().empty());
}

TEST_F(RealEngine, LoopAllComesBackToTheFirstFile) {
    form->Action14->trigger();
    PlaySelection({"seq-1.mpg", "seq-2.mpg"});
    QStringList played{Playing()};
    ASSERT_TRUE(WaitFor(
        [&] {
            if (Playing() != played.last())
                played << Playing();
            return played.size() == 3;
        },
        8000));
    ASSERT_TRUE(OpenEnded());
    EXPECT_EQ(played, (QStringList{"seq-1.mpg", "seq-2.mpg", "seq-1.mpg"}));
    EXPECT_EQ(PlayOrdinal, 1);
    EXPECT_FALSE(form->ToolButton2->isEnabled());
    EXPECT_TRUE(form->ToolButton6->isEnabled());
}

TEST_F(RealEngine, LoopSingleRepeatsOneFileWithoutReopeningIt) {
    form->Action13->trigger();
    PlaySelection({"seq-1.mpg", "seq-2.mpg"});
    const int device = form->MediaPlayer1->DeviceID();
    TMediaPlayer& player = *form->MediaPlayer1;
    int repeats = 0;
    int last = 0;
    ASSERT_TRUE(WaitFor(
        [&] {
            const int now = player.Position();
            if (now + 300 < last)
                ++repeats;
            last = now;
            return repeats == 2;
        },
        8000));
    EXPECT_EQ(player.DeviceID(), device);
    EXPECT_EQ(Playing(), QStringLiteral("seq-1.mpg"));
    EXPECT_EQ(PlayOrdinal, 1);
}

// On a long file: a pause in a file's last seconds waits for the sound already
// buffered on mpv 0.37 and later, which is another matter.
TEST_F(RealEngine, PressDragAndReleaseOnTheSeekBarPlaysFromTheChosenPoint) {
    PlayOnly("a-long.mpg");
    TMediaPlayer& player = *form->MediaPlayer1;
    ASSERT_TRUE(WaitFor([&] { return player.Position() > 200; }, 5000));
    QWidget* bar = form->ProgressBar1;
    QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(60, 8));
    EXPECT_EQ(player.Mode(), mpPaused);
    QTest::mouseMove(bar, QPoint(200, 8));
    QTest::mouseMove(bar, QPoint(262, 8));
    const int chosen = form->ProgressBar1->Position();
    EXPECT_EQ(chosen, static_cast<int>(static_cast<float>(player.Length()) / 525.0f * 262.0f));
    QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(262, 8));
    EXPECT_EQ(player.Mode(), mpPlaying);
    EXPECT_EQ(player.Position(), chosen);
    // The bar never jumps back behind the chosen point, and playback goes on from it.
    int previous = chosen;
    for (int i = 0; i < 5; ++i) {
        QTest::qWait(110);
        EXPECT_GE(form->ProgressBar1->Position(), previous);
        previous = form->ProgressBar1->Position();
    }
    EXPECT_GT(previous, chosen);
    EXPECT_LE(previous, chosen + 550 + 2 * 40);
}

// A bar crossing the picture fast, paused, shown at its own size (400 x 300):
// interlaced, its fields are combined; progressive, its one-line stripes stay.
TEST_F(RealEngine, InterlacedFramesAreDeinterlacedAndProgressiveOnesKeepEveryLine) {
    constexpr double kCombed = 4;        // deinterlaced pictures measure below 1
    constexpr double kWholeLines = 1000; // the stripes merged measure below 50
    QTemporaryDir scratch;
    const QString woven = scratch.filePath(QStringLiteral("woven.png"));
    ASSERT_TRUE(RunTool(QStringLiteral("ffmpeg"),
                        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-ss"),
                         QStringLiteral("0.4"), QStringLiteral("-i"),
                         QStringLiteral(QEL_TEST_CLIPS "/interlaced.mpg"),
                         QStringLiteral("-frames:v"), QStringLiteral("1"), woven}));
    const double asDecoded = CombRatio(QImage(woven));
    EXPECT_GT(asDecoded, kCombed) << "the clip is not combed as decoded";
    std::printf("interlaced.mpg: comb ratio %.2f as decoded\n", asDecoded);

    for (const char* name : {"interlaced.mpg", "progressive-lines.mpg"}) {
        SCOPED_TRACE(name);
        PlayOnly(name);
        ASSERT_NE(form->MediaPlayer1->DeviceID(), 0);
        EXPECT_EQ(form->StatusBar1->PanelText(2), QStringLiteral(" 400x 300/  400x 300"));
        ASSERT_TRUE(WaitFor([&] { return form->MediaPlayer1->Position() > 400; }, 5000));
        form->Action3->trigger();
        QTest::qWait(300); // the paused frame is on the screen
        const QImage area = VideoArea();
        area.save(QCoreApplication::applicationDirPath() +
                  QStringLiteral("/engine-paused-%1.png").arg(QString::fromLatin1(name)));
        // The bar, not a blank or smeared area, is what was measured.
        const double bar = ShareOfPixels(area, area.rect(), IsNotBlack);
        EXPECT_GT(bar, 0.05);
        EXPECT_LT(bar, 0.25);
        const double ratio = CombRatio(area);
        std::printf("%s: comb ratio %.2f on the screen\n", name, ratio);
        if (std::strcmp(name, "interlaced.mpg") == 0)
            EXPECT_LT(ratio, kCombed);
        else
            EXPECT_GT(ratio, kWholeLines);
        form->Action2->trigger();
    }
}

TEST_F(RealEngine, TheGeometryCommandsResizeTheRealWindowAroundThePicture) {
    PlayOnly("bars.mpg");
    form->Action15->trigger();
    // Laid out before the command returned, and the window system agrees.
    EXPECT_EQ(form->Panel3->size(), QSize(320, 240));
    EXPECT_EQ(form->StatusBar1->PanelText(2), QStringLiteral(" 320x 240/  320x 240"));
    ASSERT_TRUE(
        WaitFor([&] { return form->windowHandle()->geometry().size() == QSize(453, 283); }, 2000));
    QTest::qWait(200);
    EXPECT_EQ(form->size(), QSize(453, 283));
    EXPECT_EQ(form->OriginalSize1->Caption(), QStringLiteral("Current Size"));
    QImage area = VideoArea();
    EXPECT_GT(ShareOfPixels(area, QRect(0, 0, 320, 150), IsNotBlack), 0.97);

    form->Action15->trigger();
    EXPECT_EQ(form->Panel3->size(), QSize(400, 300));
    ASSERT_TRUE(
        WaitFor([&] { return form->windowHandle()->geometry().size() == QSize(533, 343); }, 2000));

    // An area of 500 x 300 takes the picture's 4:3 again.
    form->resize(633, 343);
    ASSERT_TRUE(
        WaitFor([&] { return form->windowHandle()->geometry().size() == QSize(633, 343); }, 2000));
    form->Action12->trigger();
    EXPECT_EQ(form->Panel3->size(), QSize(400, 300));
    ASSERT_TRUE(
        WaitFor([&] { return form->windowHandle()->geometry().size() == QSize(533, 343); }, 2000));
    EXPECT_TRUE(messages.Messages().empty());
}

TEST_F(RealEngine, AResizeWhilePlayingKeepsThePictureFillingTheArea) {
    PlayOnly("bars.mpg");
    ASSERT_TRUE(WaitFor([&] { return form->MediaPlayer1->Position() > 200; }, 5000));
    form->resize(733, 443);
    ASSERT_TRUE(
        WaitFor([&] { return form->windowHandle()->geometry().size() == QSize(733, 443); }, 2000));
    // Until the picture has been drawn at the new size.
    QImage area;
    static_cast<void>(WaitFor(
        [&] {
            area = VideoArea();
            return area.size() == QSize(600, 400) &&
                   ShareOfPixels(area, QRect(0, 0, 600, 260), IsNotBlack) > 0.97 &&
                   ShareOfPixels(area, QRect(540, 0, 60, 260), IsNotBlack) > 0.97;
        },
        3000));
    ASSERT_EQ(area.size(), QSize(600, 400));
    area.save(QCoreApplication::applicationDirPath() + QStringLiteral("/engine-resized.png"));
    EXPECT_GT(ShareOfPixels(area, QRect(0, 0, 600, 260), IsNotBlack), 0.97);
    EXPECT_GT(ShareOfPixels(area, QRect(540, 0, 60, 260), IsNotBlack), 0.97);
    EXPECT_EQ(form->StatusBar1->PanelText(2), QStringLiteral(" 600x 400/  320x 240"));
}

TEST(RealProgram, ClosingTheWindowWhilePlayingEndsWithExitCodeZero) {
    QEL_REQUIRE_DISPLAY();
    QelProcess qel(QStringLiteral(QEL_TEST_CLIPS));
    const auto window = qel.WaitForWindow();
    ASSERT_TRUE(window);
    const auto geometry = qel.Geometry(*window);
    ASSERT_TRUE(geometry);
    // The first entry of the file list, then Play.
    ASSERT_TRUE(WaitForListedFiles(*geometry));
    const QPoint row = geometry->topLeft() + QPoint(400 + 5 + 30, 102 + 8);
    ASSERT_TRUE(RunTool(QStringLiteral("xdotool"),
                        {QStringLiteral("mousemove"), QString::number(row.x()),
                         QString::number(row.y()), QStringLiteral("click"), QStringLiteral("1")}));
    ASSERT_TRUE(qel.Key(*window, QStringLiteral("ctrl+alt+x")));
    const QImage shot =
        ScreenUntil(QRect(geometry->topLeft(), QSize(400, 300)), [](const QImage& area) {
            return ShareOfPixels(area, QRect(0, 0, 400, 190), IsNotBlack) > 0.97;
        });
    EXPECT_GT(ShareOfPixels(shot, QRect(0, 0, 400, 190), IsNotBlack), 0.97);
    // The system's mixer shows the stream as the player's, with its icon and role.
    const auto streams =
        RunTool(QStringLiteral("pactl"), {QStringLiteral("list"), QStringLiteral("sink-inputs")});
    ASSERT_TRUE(streams);
    for (const char* property :
         {"application.name = \"Qel\"", "application.icon_name = \"org.qelplayer.Qel\"",
          "media.icon_name = \"org.qelplayer.Qel\"", "media.role = \"video\""})
        EXPECT_TRUE(streams->contains(QLatin1String(property))) << property << "\n"
                                                                << streams->toStdString();
    ASSERT_TRUE(qel.Key(*window, QStringLiteral("ctrl+alt+q")));
    const auto exitCode = qel.WaitForExit();
    ASSERT_TRUE(exitCode);
    EXPECT_EQ(*exitCode, 0);
    // Nothing is printed in ordinary use but the diagnostics the test command asks for.
    QByteArrayList printed = qel.StandardError().split('\n');
    printed.removeIf([](const QByteArray& line) {
        return line.isEmpty() || line.startsWith("qel-diagnostics: ");
    });
    EXPECT_TRUE(printed.isEmpty()) << printed.join('\n').toStdString();
}

// Quit or a termination signal while a file takes long to open ends the program
// at once.
TEST(RealProgram, QuitOrTerminationDuringASlowOpenEndsAtOnce) {
    QEL_REQUIRE_DISPLAY();
    QTemporaryDir folder;
    const QString slow = folder.filePath(QStringLiteral("a-zeros.mpg"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(QEL_TEST_CLIPS "/seq-2.mpg"), slow));
    ASSERT_EQ(truncate(QFile::encodeName(slow).constData(), qint64{4} << 30), 0);
    for (const bool bySignal : {false, true}) {
        SCOPED_TRACE(bySignal ? "SIGTERM" : "Quit");
        QelProcess qel(folder.path());
        const auto window = qel.WaitForWindow();
        ASSERT_TRUE(window);
        const auto geometry = qel.Geometry(*window);
        ASSERT_TRUE(geometry);
        ASSERT_TRUE(WaitForListedFiles(*geometry));
        ASSERT_TRUE(qel.Click(*window, QPoint(400 + 5 + 30, 102 + 8)));
        ASSERT_TRUE(qel.Key(*window, QStringLiteral("ctrl+alt+x")));
        QThread::msleep(1000); // well inside the open
        QElapsedTimer clock;
        clock.start();
        ASSERT_TRUE(bySignal ? qel.Signal(SIGTERM)
                             : qel.Key(*window, QStringLiteral("ctrl+alt+q")));
        const auto exitCode = qel.WaitForExit(3000);
        ASSERT_TRUE(exitCode) << "still running " << clock.elapsed() << " ms later";
        EXPECT_EQ(*exitCode, 0);
        EXPECT_LT(clock.elapsed(), 1500);
    }
}

// Whatever its text, a box fits the screen with its button on it.
TEST(MessageBoxes, EveryBoxFitsTheScreenWithItsButtonOnIt) {
    QEL_REQUIRE_DISPLAY();
    QStringList logLines;
    for (int i = 0; i < 150; ++i)
        logLines << QStringLiteral("asf: invalid packet_length 4294967295 at:%1").arg(i * 3200);
    const QString texts[] = {logLines.join(QLatin1Char('\n')), QString(5000, QLatin1Char('x')),
                             QStringLiteral("word ").repeated(1000)};
    SetMessageBoxHook(nullptr);
    for (const QString& text : texts) {
        QRect box;
        QRect button;
        QTimer::singleShot(300, [&] {
            auto* shown = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!shown)
                return;
            box = shown->frameGeometry();
            QAbstractButton* ok = shown->button(QMessageBox::Ok);
            button = QRect(ok->mapToGlobal(QPoint(0, 0)), ok->size());
            shown->done(QMessageBox::Ok);
        });
        ShowMessageBox({text, QStringLiteral("Qel"), MessageIcon::Error});
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        ASSERT_FALSE(box.isEmpty()) << "no box was shown";
        EXPECT_TRUE(screen.contains(box)) << box.width() << "x" << box.height();
        EXPECT_TRUE(screen.contains(button));
    }
    SetMessageBoxHook(nullptr);
}
