// SPDX-License-Identifier: GPL-3.0-or-later

// How the real program ends when it is not asked through its window: a
// termination signal at a moment when no window is up yet, the display going
// away. Whatever the way, the user's volume comes back.

#include "tests/E2eSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>

namespace {

const std::vector<unsigned> kUsers{30000, 30001};

bool WaitForSink(const std::function<bool(const std::vector<unsigned>&)>& wanted) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (wanted(SinkChannels()))
            return true;
        QThread::msleep(50);
    }
    return false;
}

bool AtPlayersLevel(const std::vector<unsigned>& channels) {
    // Level 100: full scale on both channels.
    return channels.size() == 2 && channels[0] >= 65535 && channels[1] >= 65535;
}

} // namespace

TEST(Ending, EachTerminationSignalDuringAStartUpBoxEndsItAtOnceWithTheVolumeBack) {
    QEL_REQUIRE_DISPLAY();
    for (int number : {SIGTERM, SIGINT, SIGHUP}) {
        ASSERT_TRUE(SetSinkChannels({QStringLiteral("30000"), QStringLiteral("30001")}));
        // The folder argument fails after the first show: its box runs before the main loop.
        QelProcess qel(QStringLiteral("/"), {QStringLiteral("/no/such/folder")});
        ASSERT_TRUE(qel.WaitForWindow()) << qel.StandardError().toStdString();
        ASSERT_TRUE(WaitForSink(AtPlayersLevel));
        QThread::msleep(300);
        ASSERT_TRUE(qel.Signal(number));
        const auto exitCode = qel.WaitForExit(1500);
        ASSERT_TRUE(exitCode) << "signal " << number << " left the program running";
        EXPECT_EQ(*exitCode, 0);
        EXPECT_EQ(SinkChannels(), kUsers) << "signal " << number;
    }
}

TEST(Ending, WhenTheDisplayGoesAwayTheVolumeComesBack) {
    QEL_REQUIRE_DISPLAY();
    ASSERT_TRUE(SetSinkChannels({QStringLiteral("30000"), QStringLiteral("30001")}));
    // An X server of its own, to take away.
    QProcess server;
    server.setProcessChannelMode(QProcess::SeparateChannels);
    server.start(QStringLiteral("Xvfb"),
                 {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                  QStringLiteral("0"), QStringLiteral("800x600x24"), QStringLiteral("-nolisten"),
                  QStringLiteral("tcp")});
    ASSERT_TRUE(server.waitForReadyRead(10000));
    const QByteArray display = ':' + server.readAllStandardOutput().trimmed();
    const QByteArray ownDisplay = qgetenv("DISPLAY");
    qputenv("DISPLAY", display);
    QelProcess qel(QStringLiteral("/"));
    qputenv("DISPLAY", ownDisplay);
    ASSERT_TRUE(WaitForSink(AtPlayersLevel)) << qel.StandardError().toStdString();
    QThread::msleep(300);

    server.terminate();
    ASSERT_TRUE(server.waitForFinished(5000));
    const auto exitCode = qel.WaitForExit(5000);
    ASSERT_TRUE(exitCode) << "still running without its display";
    EXPECT_EQ(*exitCode, 1) << "the toolkit ends it so";
    EXPECT_EQ(SinkChannels(), kUsers);
}

TEST(Ending, StartedInAFolderRemovedSinceItOpensOnTheFolderAbove) {
    QEL_REQUIRE_DISPLAY();
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid() && QDir(folder.path()).mkdir(QStringLiteral("gone")));
    const QString gone = folder.filePath(QStringLiteral("gone"));
    QProcess qel;
    qel.start(QStringLiteral("/bin/sh"),
              {QStringLiteral("-c"), QStringLiteral("cd \"$0\" && rmdir \"$0\" && exec \"$1\""),
               gone, QStringLiteral(QEL_BINARY)});
    ASSERT_TRUE(qel.waitForStarted(5000));
    // The error box first, then the main window; the box is answered as it comes.
    QElapsedTimer clock;
    clock.start();
    bool windowShown = false;
    while (!windowShown && clock.elapsed() < 15000 && qel.state() == QProcess::Running) {
        const auto found = RunTool(QStringLiteral("xdotool"),
                                   {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                    QStringLiteral("--pid"), QString::number(qel.processId()),
                                    QStringLiteral("--name"), QStringLiteral("^Qel$")});
        for (const QByteArray& id : found ? found->trimmed().split('\n') : QList<QByteArray>()) {
            if (id.isEmpty())
                continue;
            const auto shape =
                RunTool(QStringLiteral("xdotool"),
                        {QStringLiteral("getwindowgeometry"), QString::fromLatin1(id)});
            if (shape && shape->contains("533x343"))
                windowShown = true;
            else if (RunTool(QStringLiteral("xdotool"),
                             {QStringLiteral("windowfocus"), QStringLiteral("--sync"),
                              QString::fromLatin1(id)}))
                RunTool(QStringLiteral("xdotool"),
                        {QStringLiteral("key"), QStringLiteral("Return")});
        }
        QThread::msleep(200);
    }
    EXPECT_TRUE(windowShown) << "no main window; exit code " << qel.exitCode();
    qel.terminate();
    ASSERT_TRUE(qel.waitForFinished(3000));
    EXPECT_EQ(qel.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(qel.exitCode(), 0);
}
