// SPDX-License-Identifier: GPL-3.0-or-later

#include "tests/PlayerFixture.h"

#include <QTest>

namespace {

class Geometry : public PlayerFixture {
protected:
    Geometry()
        : PlayerFixture({{"qvga.mpg", {5000, 320, 240, {}}},
                         {"sif.mpg", {5000, 352, 240, {}}},
                         {"fits.mpg", {5000, 400, 300, {}}},
                         {"tall.mpg", {5000, 320, 61200, {}}}}) {}

    void PlayOnly(const char* name) {
        Select({name});
        form.Action1->trigger();
        ASSERT_NE(form.MediaPlayer1->DeviceID(), 0);
        media.ClearCommands();
    }

    void ExpectClient(int width, int height) const {
        EXPECT_EQ(form.width(), width);
        EXPECT_EQ(form.height(), height);
        EXPECT_EQ(form.Panel3->width(), width - 133);
        EXPECT_EQ(form.Panel3->height(), height - 43);
    }
};

} // namespace

TEST_F(Geometry, TheOwnSizeToggleShowsThePictureAtItsSizeAndGoesBack) {
    PlayOnly("qvga.mpg");
    EXPECT_EQ(media.Destination(), (MediaRect{0, 0, 400, 300}));
    EXPECT_EQ(form.OriginalSize1->Caption(), QStringLiteral("Original Size"));

    form.OriginalSize1->trigger();
    ExpectClient(453, 283);
    // The resize handler ran inside the command, and left the rectangle to it.
    EXPECT_EQ(media.Commands(), QStringList{"put 0 0 320 240"});
    EXPECT_EQ(Panel(2), QStringLiteral(" 320x 240/  320x 240"));
    EXPECT_EQ(form.OriginalSize1->Caption(), QStringLiteral("Current Size"));
    EXPECT_FALSE(ResizingByProgram);
    EXPECT_EQ(SavedClientWidth, 533);
    EXPECT_EQ(SavedClientHeight, 343);

    media.ClearCommands();
    form.Action15->trigger();
    ExpectClient(533, 343);
    EXPECT_EQ(media.Commands(), QStringList{"put 0 0 400 300"});
    EXPECT_EQ(Panel(2), QStringLiteral(" 400x 300/  320x 240"));
    EXPECT_EQ(form.OriginalSize1->Caption(), QStringLiteral("Original Size"));
    EXPECT_FALSE(ResizingByProgram);
}

TEST_F(Geometry, AnAbsurdPictureStaysOnScreenAndTheToggleTwiceGivesTheSizeBack) {
    PlayOnly("tall.mpg");
    const QRect free = form.screen()->availableGeometry();
    form.OriginalSize1->trigger();
    EXPECT_TRUE(free.contains(form.frameGeometry()))
        << form.frameGeometry().y() << " " << form.frameGeometry().height();
    // The picture stays within the area, under the seek bar and beside the browser.
    EXPECT_EQ(media.Destination(), (MediaRect{0, 0, 320, form.Panel3->height()}));
    form.OriginalSize1->trigger();
    ExpectClient(533, 343);
    // A window system that gives less than asked, here a limit on the height.
    form.setMaximumHeight(450);
    form.OriginalSize1->trigger();
    EXPECT_EQ(form.height(), 450);
    EXPECT_EQ(media.Destination(), (MediaRect{0, 0, 320, 450 - 43}));
    form.OriginalSize1->trigger();
    ExpectClient(533, 343);
    EXPECT_EQ(form.OriginalSize1->Caption(), QStringLiteral("Original Size"));
}

TEST_F(Geometry, APictureTheSizeOfTheAreaReadsCurrentSizeAndTheToggleKeepsTheSavedSize) {
    PlayOnly("fits.mpg");
    EXPECT_EQ(form.OriginalSize1->Caption(), QStringLiteral("Current Size"));
    for (int press = 0; press < 2; ++press) {
        form.Action15->trigger();
        ExpectClient(533, 343);
        EXPECT_EQ(form.OriginalSize1->Caption(), QStringLiteral("Original Size"));
    }
    // The saved size is whatever the last switch to own size left, at first the design.
    EXPECT_EQ(media.Commands(), (QStringList{"put 0 0 400 300", "put 0 0 400 300"}));
}

TEST_F(Geometry, TheToggleGoesBackToTheSizeTheWindowHadBefore) {
    PlayOnly("qvga.mpg");
    form.resize(700, 500);
    form.Action15->trigger();
    ExpectClient(453, 283);
    form.Action15->trigger();
    ExpectClient(700, 500);
    EXPECT_EQ(media.Destination(), (MediaRect{0, 0, 567, 457}));
}

TEST_F(Geometry, AspectRatioGivesTheAreaThePicturesProportionsAtItsHeight) {
    PlayOnly("sif.mpg");
    form.AspectRatio1->trigger();
    // 300 × 352 / 240 + 133
    ExpectClient(573, 343);
    EXPECT_EQ(media.Commands(), QStringList{"put 0 0 440 300"});
    EXPECT_EQ(Panel(2), QStringLiteral(" 440x 300/  352x 240"));
    EXPECT_FALSE(ResizingByProgram);

    form.Action2->trigger();
    PlayOnly("qvga.mpg");
    form.resize(633, 343);
    form.Action12->trigger();
    ExpectClient(533, 343);
    // The window keeps the size the command gave it after the file is closed.
    form.Action2->trigger();
    ExpectClient(533, 343);
}

TEST_F(Geometry, BothCommandsDoNothingWithNoFileOpenOrInAMaximisedWindow) {
    form.Action12Execute(form.Action12);
    form.Action15Execute(form.Action15);
    ExpectClient(533, 343);

    PlayOnly("qvga.mpg");
    const QSize normal = form.size();
    form.setWindowState(Qt::WindowMaximized);
    static_cast<void>(QTest::qWaitFor([&] { return form.size() != normal; }, 1000));
    const QSize maximised = form.size();
    form.Action12Execute(form.Action12);
    form.Action15Execute(form.Action15);
    EXPECT_EQ(form.size(), maximised);
    EXPECT_EQ(media.Commands().filter(QStringLiteral("put 0 0 320 240")), QStringList());
    EXPECT_EQ(form.OriginalSize1->Caption(), QStringLiteral("Original Size"));
    form.setWindowState(Qt::WindowMinimized);
    form.Action15Execute(form.Action15);
    EXPECT_EQ(form.OriginalSize1->Caption(), QStringLiteral("Original Size"));
    EXPECT_EQ(SavedClientWidth, 533);
}

TEST_F(Geometry, AResizeWhileIdleMovesOnlyTheSizeTextAndTheIcon) {
    EXPECT_EQ(form.Image1->pos(), QPoint(184, 134));
    form.resize(534, 344);
    EXPECT_EQ(Panel(2), QStringLiteral(" 401x 301"));
    EXPECT_EQ(form.Image1->pos(), QPoint(184, 134));
    // Narrower than the icon: truncation toward zero, not floor.
    form.resize(138, 48);
    EXPECT_EQ(Panel(2), QStringLiteral("   5x   5"));
    EXPECT_EQ(form.Image1->pos(), QPoint(-13, -13));
    EXPECT_TRUE(media.Commands().isEmpty());
}
