// SPDX-License-Identifier: GPL-3.0-or-later

#include "tests/E2eSupport.h"

#include <QDir>
#include <QFile>
#include <QThread>
#include <gtest/gtest.h>

namespace {

bool IsBlack(QColor c) {
    return c.red() < 8 && c.green() < 8 && c.blue() < 8;
}
bool IsLightGrey(QColor c) {
    return c.red() > 180 && std::abs(c.red() - c.green()) < 12 && std::abs(c.red() - c.blue()) < 12;
}

} // namespace

TEST(IdleWindow, StartsAtItsDesignedSizeLooksAsLaidOutAndQuitsOnCtrlAltQ) {
    QEL_REQUIRE_DISPLAY();
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    for (const char* name : {"a.mpg", "b.wmv", "notes.txt"})
        QFile(folder.filePath(QString::fromLatin1(name))).open(QIODevice::WriteOnly);

    QelProcess qel(folder.path());
    const auto window = qel.WaitForWindow();
    ASSERT_TRUE(window) << qel.StandardError().toStdString();
    const auto geometry = qel.Geometry(*window);
    ASSERT_TRUE(geometry);
    EXPECT_EQ(geometry->size(), QSize(533, 343));
    EXPECT_EQ(geometry->topLeft(), QPoint(10, 10));

    QImage shot;
    for (int attempt = 0; attempt < 20; ++attempt) { // until the first paint has landed
        shot = Screenshot().copy(*geometry);
        if (!shot.isNull() && ShareOfPixels(shot, QRect(0, 324, 533, 19), IsLightGrey) > 0.5)
            break;
        QThread::msleep(100);
    }
    ASSERT_FALSE(shot.isNull());
    shot.save(QStringLiteral("idle-window.png"));

    // The video area is black but for the icon in its middle.
    EXPECT_GT(ShareOfPixels(shot, QRect(0, 0, 180, 300), IsBlack), 0.99);
    EXPECT_GT(ShareOfPixels(shot, QRect(220, 0, 180, 300), IsBlack), 0.99);
    EXPECT_LT(ShareOfPixels(shot, QRect(184, 134, 32, 32), IsBlack), 0.5);
    // The browser panel, the seek strip and the status bar are light.
    EXPECT_GT(ShareOfPixels(shot, QRect(401, 266, 131, 3), IsLightGrey), 0.9);
    EXPECT_GT(ShareOfPixels(shot, QRect(401, 102, 4, 163), IsLightGrey), 0.9);
    EXPECT_GT(ShareOfPixels(shot, QRect(0, 301, 533, 2), IsLightGrey), 0.9);
    EXPECT_GT(ShareOfPixels(shot, QRect(0, 326, 533, 17), IsLightGrey), 0.6);
    // The video area ends where the browser's bevel begins.
    EXPECT_EQ(ShareOfPixels(shot, QRect(400, 0, 5, 300), IsBlack), 0.0);
    EXPECT_GT(ShareOfPixels(shot, QRect(399, 0, 1, 300), IsBlack), 0.99);

    ASSERT_TRUE(qel.Key(*window, QStringLiteral("ctrl+alt+q")));
    const auto exitCode = qel.WaitForExit();
    ASSERT_TRUE(exitCode) << "qel did not end on Ctrl+Alt+Q";
    EXPECT_EQ(*exitCode, 0);
    const QByteArray errors = qel.StandardError();
    EXPECT_FALSE(errors.contains("X Error")) << errors.toStdString();
    EXPECT_FALSE(errors.contains("xcb")) << errors.toStdString();
}
