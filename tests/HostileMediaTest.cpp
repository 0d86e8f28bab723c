// SPDX-License-Identifier: GPL-3.0-or-later

// Whatever a download or a broken disk leaves behind, named as a video: the
// window plays it or says why, and goes on answering.

#include "tests/HostileMedia.h"
#include "tests/RobustnessSupport.h"
#include "ui/StatusBar.h"

#include <QDir>
#include <QFileInfo>
#include <QtEndian>

#include <cstring>
#include <optional>
#include <random>
#include <sys/stat.h>

namespace {

class HostileMedia : public OwnFolder, public ::testing::WithParamInterface<QString> {
protected:
    enum class Outcome { Reported, Played };

    Outcome PlayThenTheNext(const QString& name) {
        const std::size_t before = messages.Messages().size();
        QElapsedTimer clock;
        clock.start();
        PlayTexts({name, QString::fromLatin1(kGood)});
        // Small clips: whatever their damage, the window is back within seconds.
        EXPECT_LT(clock.elapsed(), 5000) << "Play held the window too long";
        Outcome outcome = Outcome::Played;
        if (messages.Messages().size() > before) {
            outcome = Outcome::Reported;
            EXPECT_FALSE(messages.LastText().trimmed().isEmpty());
            EXPECT_TRUE(Idle()) << "not back to idle after the message";
        } else {
            EXPECT_TRUE(TickRuns()) << "the tick stopped while it played";
            if (Playing() == name) {
                form->Action4->trigger(); // Next
                EXPECT_TRUE(OpenEnded());
            }
        }
        ExpectTheGoodFilePlays();
        return outcome;
    }
};

} // namespace

TEST_P(HostileMedia, EachFileIsPlayedOrReportedAndTheNextStillPlays) {
    const std::vector<HostileCase> cases = HostileCases(GetParam(), QStringLiteral(QEL_TEST_CLIPS));
    ASSERT_FALSE(cases.empty());
    for (const HostileCase& item : cases)
        folder.File(QFile::encodeName(item.Name), item.Content);
    Reread();
    int reported = 0;
    for (const HostileCase& item : cases) {
        SCOPED_TRACE(item.Name.toStdString());
        reported += PlayThenTheNext(item.Name) == Outcome::Reported;
        if (HasFatalFailure())
            return;
    }
    std::printf("%s: %zu cases, %d reported, %zu played\n", qPrintable(GetParam()), cases.size(),
                reported, cases.size() - reported);
    // Files with nothing playable in them are never taken for media.
    if (GetParam() == QLatin1String("empty-and-random")) {
        EXPECT_EQ(reported, static_cast<int>(cases.size()));
    }
}

INSTANTIATE_TEST_SUITE_P(Groups, HostileMedia, ::testing::ValuesIn(HostileGroups()),
                         [](const auto& info) {
                             return QString(info.param).replace('-', '_').toStdString();
                         });

// Clean for a second, then a video stream full of damage: it plays on to its end.
TEST_F(OwnFolder, AStreamCorruptAfterTheFirstSecondPlaysOnToItsEnd) {
    QTemporaryDir work;
    for (const char* extension : {"mpg", "wmv"}) {
        SCOPED_TRACE(extension);
        const QString source = QStringLiteral(QEL_TEST_CLIPS "/bars.") + extension;
        const QString head = work.filePath(QStringLiteral("head.") + extension);
        const QString tail = work.filePath(QStringLiteral("tail.") + extension);
        const QString list = work.filePath(QStringLiteral("list.txt"));
        const QString name = QStringLiteral("corrupt-after-1s.") + extension;
        ASSERT_TRUE(RunTool(
            "ffmpeg", {"-loglevel", "error", "-y", "-i", source, "-t", "1", "-c", "copy", head}));
        ASSERT_TRUE(RunTool("ffmpeg", {"-loglevel", "error", "-y", "-ss", "1", "-i", source, "-c",
                                       "copy", "-bsf:v", "noise=amount=8", tail}));
        QFile listFile(list);
        ASSERT_TRUE(listFile.open(QIODevice::WriteOnly));
        listFile.write(("file '" + head + "'\nfile '" + tail + "'\n").toUtf8());
        listFile.close();
        ASSERT_TRUE(
            RunTool("ffmpeg", {"-loglevel", "error", "-y", "-f", "concat", "-safe", "0", "-i", list,
                               "-c", "copy", QFile::decodeName(folder.PathOf(name.toUtf8()))}));
        Reread();
        PlayTexts({name});
        ASSERT_TRUE(messages.Messages().empty()) << messages.LastText().toStdString();
        // The damaged second is played through, and the end of the file is reached.
        EXPECT_TRUE(WaitFor([&] { return form->MediaPlayer1->Mode() == mpStopped; }, 8000));
        EXPECT_GT(form->MediaPlayer1->Position(), 1500);
        ExpectTheGoodFilePlays();
    }
}

// Pictures that declare a quarter turn (H.264's display orientation) in a
// transport stream and in Matroska, and one that turns after its first second:
// each plays turned as declared and stretched over the area, on either picture
// path; the size shown, and the own size, are the turned picture's.
TEST_F(OwnFolder, PicturesThatDeclareARotationPlayTurned) {
    enum Quarter { TopLeft, TopRight, BottomLeft, BottomRight, NoneRed, Mixed };
    struct Case {
        const char* name;
        int anticlockwise; // as the stream declares it; -1: nothing declared
        const char* format;
        Quarter red;
    };
    const std::vector<Case> cases = {
        {"turn-90.mpg", 90, "mpegts", BottomLeft},
        {"turn-180.mpg", 180, "mpegts", BottomRight},
        {"turn-270.mpg", 270, "mpegts", TopRight},
        {"turn-90-mkv.mpg", 90, "matroska", BottomLeft},
        {"turn-180-mkv.mpg", 180, "matroska", BottomRight},
        {"turn-270-mkv.mpg", 270, "matroska", TopRight},
    };
    QTemporaryDir work;
    // One second of black with a red quarter at the top left, every frame a key
    // frame that carries the orientation, in a transport stream (Matroska's
    // muxer would put it where the decoder reads it from the first frame only).
    const QString picture =
        QStringLiteral("color=c=black:size=320x240:rate=25,drawbox=w=160:h=120:color=red:t=fill");
    const auto make = [&](int anticlockwise) {
        const QString path = work.filePath(QStringLiteral("turn-%1.ts").arg(anticlockwise));
        const QString orientation =
            anticlockwise < 0 ? QStringLiteral("null")
                              : QStringLiteral("h264_metadata=display_orientation=insert:rotate=%1")
                                    .arg(anticlockwise);
        const bool made = RunTool("ffmpeg", {"-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                             picture, "-t", "1", "-c:v", "libx264", "-g", "1",
                                             "-bsf:v", orientation, "-f", "mpegts", path})
                              .has_value();
        return made ? path : QString();
    };
    const auto copy = [&](const QStringList& input, const char* format, const char* name) {
        return RunTool(QStringLiteral("ffmpeg"),
                       QStringList{"-loglevel", "error", "-y"} + input +
                           QStringList{"-c", "copy", "-f", QString::fromLatin1(format),
                                       QFile::decodeName(folder.PathOf(name))})
            .has_value();
    };
    for (const Case& item : cases) {
        const QString stream = make(item.anticlockwise);
        ASSERT_FALSE(stream.isEmpty());
        ASSERT_TRUE(copy({"-i", stream}, item.format, item.name));
    }
    const QString upright = make(-1);
    ASSERT_FALSE(upright.isEmpty());
    const QString list = work.filePath(QStringLiteral("list.txt"));
    QFile listFile(list);
    ASSERT_TRUE(listFile.open(QIODevice::WriteOnly));
    listFile.write(("file '" + upright + "'\nfile '" + make(270) + "'\n").toUtf8());
    listFile.close();
    const char* const midway = "turn-midway.mpg";
    ASSERT_TRUE(copy({"-f", "concat", "-safe", "0", "-i", list}, "mpegts", midway));
    Reread();

    const auto redQuarter = [](const QImage& area) {
        const auto red = [](QColor c) {
            return c.red() > 150 && c.green() < 90 && c.blue() < 90;
        };
        const int w = area.width() / 2;
        const int h = area.height() / 2;
        Quarter found = NoneRed;
        for (const Quarter quarter : {TopLeft, TopRight, BottomLeft, BottomRight}) {
            // Inside the quarter, clear of the edge that scaling blurs.
            const QRect inside(quarter % 2 * w + 20, quarter / 2 * h + 20, w - 40, h - 40);
            const double share = ShareOfPixels(area, inside, red);
            if (share > 0.1 && (share < 0.9 || found != NoneRed))
                return Mixed;
            if (share >= 0.9)
                found = quarter;
        }
        return found;
    };
    const QRect area(form->Panel3->mapToGlobal(QPoint(0, 0)), form->Panel3->size());
    const auto shows = [&](Quarter wanted, const char* name) {
        QImage shot;
        WaitFor(
            [&] {
                shot = Screenshot().copy(area);
                return redQuarter(shot) == wanted;
            },
            5000);
        shot.save(QCoreApplication::applicationDirPath() +
                  QStringLiteral("/%1-%2.png")
                      .arg(QString::fromLocal8Bit(qgetenv("QEL_RENDER_PATH")),
                           QString::fromLatin1(name)));
        return redQuarter(shot);
    };
    const QString sizes = QStringLiteral(" 400x 300/  320x 240");

    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        PlayTexts({QString::fromLatin1(item.name)});
        ASSERT_TRUE(messages.Messages().empty()) << messages.LastText().toStdString();
        EXPECT_EQ(form->StatusBar1->PanelText(2),
                  item.anticlockwise % 180 == 90 ? QStringLiteral(" 400x 300/  240x 320") : sizes);
        EXPECT_EQ(shows(item.red, item.name), item.red);
        form->Action2->trigger();
    }

    // Upright at first, turned from the second second to the end.
    SCOPED_TRACE(midway);
    PlayTexts({QString::fromLatin1(midway)});
    ASSERT_TRUE(messages.Messages().empty()) << messages.LastText().toStdString();
    form->Action3->trigger(); // Pause, within the upright second
    if (form->MediaPlayer1->Position() < 800) {
        EXPECT_EQ(shows(TopLeft, "midway-start"), TopLeft);
    }
    form->Action3->trigger();
    EXPECT_EQ(form->StatusBar1->PanelText(2), sizes);
    EXPECT_TRUE(WaitFor([&] { return form->MediaPlayer1->Mode() == mpStopped; }, 8000));
    EXPECT_EQ(shows(TopRight, "midway-end"), TopRight);
    ExpectTheGoodFilePlays();
}

// Lists of other files and addresses, named as videos, are refused without
// reaching either.
TEST_F(OwnFolder, PlaylistsAndManifestsNamedAsVideosAreRefusedWithoutReachingOut) {
    QTcpServer listener;
    ASSERT_TRUE(listener.listen(QHostAddress::LocalHost));
    int connections = 0;
    QObject::connect(&listener, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* socket = listener.nextPendingConnection()) {
            ++connections;
            socket->deleteLater();
        }
    });
    const QByteArray url = "http://127.0.0.1:" + QByteArray::number(listener.serverPort());
    const QByteArray other = folder.PathOf("other.dat"); // a real clip, not listed
    CopyClip("seq-2.mpg", "other.dat");
    FileWatch watch(other);
    ASSERT_TRUE(watch.Watching());

    const std::vector<std::pair<QByteArray, QByteArray>> lists = {
        {"list-m3u.mpg", "#EXTM3U\n#EXTINF:1,x\n" + url + "/a.mpg\n" + other + "\nother.dat\n"},
        {"list-pls.mpg", "[playlist]\nFile1=" + url + "/b.mpg\nFile2=" + other +
                             "\nFile3=other.dat\nNumberOfEntries=3\nVersion=2\n"},
        {"list-hls.mpg", "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:2\n#EXTINF:1.0,\n" +
                             url + "/seg.ts\n#EXTINF:1.0,\n" + other +
                             "\n#EXTINF:1.0,\nother.dat\n#EXT-X-ENDLIST\n"},
        {"list-concat.mpg", "ffconcat version 1.0\nfile other.dat\n"},
        {"list-concat-url.mpg", "ffconcat version 1.0\nfile '" + url + "/c.mpg'\n"},
        {"list-concat-path.mpg", "ffconcat version 1.0\nfile '" + other + "'\n"},
    };
    for (const auto& [name, content] : lists)
        folder.File(name, content);
    // A folder with a video's name is no video.
    ASSERT_TRUE(QDir(QFile::decodeName(folder.Path())).mkdir(QStringLiteral("x.mpg")));
    Reread();
    for (int i = 0; i < form->FileListBox1->Count(); ++i)
        EXPECT_FALSE(form->FileListBox1->ItemText(i).contains(QLatin1String("x.mpg")));
    watch.Touched();

    for (const auto& [name, content] : lists) {
        SCOPED_TRACE(name.toStdString());
        const std::size_t before = messages.Messages().size();
        PlayTexts({QString::fromLatin1(name)});
        EXPECT_EQ(messages.Messages().size(), before + 1) << "not refused";
        EXPECT_EQ(messages.LastText(),
                  QStringLiteral("The file refers to other files or addresses, and this player "
                                 "plays only media files."));
        EXPECT_TRUE(Idle());
        QTest::qWait(300); // a connection would have arrived by now
        EXPECT_EQ(connections, 0) << "the listener was reached";
        EXPECT_FALSE(watch.Touched()) << "the other file was opened";
        form->Action2->trigger();
    }
    ExpectTheGoodFilePlays();
}

// Names a shell, the engine's command parser or its option parser would take
// apart: each is listed, opened by its exact path and played.
TEST_F(OwnFolder, NamesThatLookLikeCommandsOptionsOrAddressesPlayAsTheFilesTheyName) {
    std::vector<QByteArray> names = {
        "semi;colon;quit.mpg",
        "quotes \"double\" 'single'.mpg",
        "$(touch pwned).mpg",
        "${path}${filename}.mpg",
        "new\nline.mpg",
        "tab\there.mpg",
        "-leading-dash.mpg",
        "--no-video.mpg",
        "back\\slash\\n.mpg",
        "not-utf8-\xe9\xff.mpg",
        "file:relative.mpg",
        "av:lavfi-testsrc.mpg",
        QByteArray(251, 'n') + ".mpg", // 255 bytes, the longest a name can be
    };
    for (const QByteArray& name : names)
        CopyClip("seq-3.mpg", name);
    Reread();

    const auto play = [&](const QByteArray& path, const QByteArray& name) {
        SCOPED_TRACE(name.toStdString());
        int row = -1;
        for (int i = 0; i < form->FileListBox1->Count(); ++i)
            if (form->FileListBox1->ItemName(i) == name)
                row = i;
        ASSERT_GE(row, 0) << "not listed";
        FileWatch watch(path);
        ASSERT_TRUE(watch.Watching());
        for (int i = 0; i < form->FileListBox1->Count(); ++i)
            form->FileListBox1->SetSelected(i, i == row);
        form->Action1->trigger();
        ASSERT_TRUE(OpenEnded());
        ASSERT_TRUE(messages.Messages().empty()) << messages.LastText().toStdString();
        EXPECT_TRUE(WaitFor([&] { return form->MediaPlayer1->Position() > 0; }, 5000));
        EXPECT_TRUE(watch.Touched()) << "the engine did not read this very file";
        EXPECT_EQ(form->StatusBar1->PanelText(5),
                  QStringLiteral("  ") + form->FileListBox1->ItemText(row));
        form->Action2->trigger();
    };
    for (const QByteArray& name : names)
        play(folder.PathOf(name), name);
    EXPECT_FALSE(QFileInfo::exists(QFile::decodeName(folder.PathOf("pwned"))));
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("pwned")));

    // A path of more than 1,000 characters, five folders deep.
    QByteArray inside; // the deep folder, from the test's folder
    for (int level = 0; level < 5; ++level) {
        inside += (level ? "/" : "") + QByteArray(200, char('a' + level));
        folder.Folder(inside);
    }
    const QByteArray deep = folder.PathOf(inside);
    CopyClip("seq-3.mpg", inside + "/deep.mpg");
    ASSERT_GT((deep + "/deep.mpg").size(), 1000);
    ShowFolder(deep);
    play(deep + "/deep.mpg", "deep.mpg");
    ShowFolder(folder.Path());
    ExpectTheGoodFilePlays();
}

// Each kind of failure that a user acts on differently has its own plain
// sentence, the same from run to run, whatever the engine logs and when.
TEST_F(OwnFolder, EachKindOfFailedOpenGivesItsOwnSentenceEveryTime) {
    const QString notMedia = QStringLiteral("The file is not a media file that this player knows.");
    const QString damaged = QStringLiteral("The file is damaged and cannot be played.");
    const QString references = QStringLiteral(
        "The file refers to other files or addresses, and this player plays only media files.");
    const auto unreadable = [](const char* reason) {
        return QStringLiteral("The file could not be read: %1.").arg(QLatin1String(reason));
    };

    QByteArray random(64 * 1024, '\0');
    std::mt19937 generator(14);
    for (char& byte : random)
        byte = static_cast<char>(generator());
    folder.File("random.mpg", random);
    QFile asfClip(QStringLiteral(QEL_TEST_CLIPS "/bars.asf"));
    ASSERT_TRUE(asfClip.open(QIODevice::ReadOnly));
    const QByteArray asf = asfClip.readAll();
    folder.File("header-cut.asf", asf.left(600));
    // Every data packet declares a length of 4 GiB.
    QByteArray badPackets = asf;
    const qsizetype properties =
        badPackets.indexOf(QByteArray::fromHex("A1DCAB8C47A9CF118EE400C00C205365"));
    const qsizetype data =
        badPackets.indexOf(QByteArray::fromHex("3626B2758E66CF11A6D900AA0062CE6C"));
    ASSERT_GE(properties, 0);
    ASSERT_GE(data, 0);
    const qsizetype packetSize =
        qFromLittleEndian<quint32>(badPackets.constData() + properties + 92);
    ASSERT_GT(packetSize, 16);
    for (qsizetype at = data + 50; at + 9 < badPackets.size(); at += packetSize) {
        badPackets[at + 3] = static_cast<char>(0x60 | (badPackets[at + 3] & 0x9F));
        badPackets.replace(at + 5, 4, QByteArray(4, '\xFF'));
    }
    folder.File("bad-packets.asf", badPackets);
    folder.File("list.mpg", "#EXTM3U\n#EXTINF:1,x\nzz-good.mpg\n");
    folder.File("unreadable.mpg", asf);
    ASSERT_EQ(chmod(folder.PathOf("unreadable.mpg").constData(), 0), 0);
    folder.File("fifo.mpg", asf);
    Reread();
    // Made a pipe that never writes after it was listed.
    ASSERT_EQ(unlink(folder.PathOf("fifo.mpg").constData()), 0);
    ASSERT_EQ(mkfifo(folder.PathOf("fifo.mpg").constData(), 0644), 0);

    const std::vector<std::pair<const char*, QString>> table = {
        {"random.mpg", notMedia},
        {"header-cut.asf", damaged},
        {"bad-packets.asf", damaged},
        {"list.mpg", references},
        {"unreadable.mpg", unreadable("Permission denied")},
        {"fifo.mpg", unreadable("it is a pipe or a device, not a file")},
    };
    for (int run = 0; run < 2; ++run) {
        for (const auto& [name, sentence] : table) {
            SCOPED_TRACE(name);
            const std::size_t before = messages.Messages().size();
            QElapsedTimer clock;
            clock.start();
            {
                std::optional<WithoutRootsRights> user;
                if (std::strcmp(name, "unreadable.mpg") == 0)
                    user.emplace();
                PlayTexts({QString::fromLatin1(name)});
            }
            EXPECT_LT(clock.elapsed(), 3000);
            ASSERT_EQ(messages.Messages().size(), before + 1);
            EXPECT_EQ(messages.LastText(), sentence);
            EXPECT_TRUE(Idle());
            form->Action2->trigger();
        }
    }
    ExpectTheGoodFilePlays();
}
