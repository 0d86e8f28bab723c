// SPDX-License-Identifier: GPL-3.0-or-later

#include "tests/PlayerFixture.h"

#include <QApplication>
#include <QMenu>
#include <QTest>
#include <QWheelEvent>

namespace {

constexpr std::uint32_t kUsersVolume = 0x4CCC3333; // what the device held before the program

class OutputVolume : public PlayerFixture {
protected:
    explicit OutputVolume(MemoryOutputDevice start = {kUsersVolume, true, {}})
        : PlayerFixture({{"a.mpg", {60000, 320, 240, {}}}}, std::move(start)) {}

    void PlayA() {
        Select({"a.mpg"});
        form.Action1->trigger();
    }

    std::uint32_t Both(int level) const {
        const std::uint32_t channel = static_cast<std::uint32_t>(level * 65535 / 100);
        return channel << 16 | channel;
    }

    void RightPressOnStatusBar(int x) {
        QTest::mousePress(form.StatusBar1, Qt::RightButton, {}, QPoint(x, 9));
        QTest::mouseRelease(form.StatusBar1, Qt::RightButton, {}, QPoint(x, 9));
    }
    // x in the list's client area, inside its frame.
    void RightPressOnFileList(int x) {
        QWidget* viewport = form.FileListBox1->viewport();
        const QPoint at(x, 20);
        QTest::mousePress(viewport, Qt::RightButton, {}, at);
        QTest::mouseRelease(viewport, Qt::RightButton, {}, at);
    }
    void Wheel(int delta) {
        const QPointF at(200, 150);
        QWheelEvent event(at, form.mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&form, &event);
    }
};

class OutputVolumeWithoutDevice : public OutputVolume {
protected:
    OutputVolumeWithoutDevice() : OutputVolume({kUsersVolume, false, {}}) {}
};

} // namespace

TEST_F(OutputVolume, StartReadsTheDeviceAndTheFirstShowSetsFullScale) {
    EXPECT_EQ(SavedWaveVolume, kUsersVolume);
    EXPECT_EQ(device.Sets, (std::vector<std::uint32_t>{0xFFFFFFFF}));
    EXPECT_EQ(Panel(3), QStringLiteral("100"));
    EXPECT_FALSE(form.Up1->isEnabled());
    EXPECT_TRUE(form.Down1->isEnabled());
    EXPECT_TRUE(form.Volume1->isEnabled());
}

TEST_F(OutputVolume, TenStepsDownAndUpWithTheMenuStatesAtTheBounds) {
    device.Sets.clear();
    for (int level = 90; level >= 0; level -= 10) {
        form.Action10->trigger();
        EXPECT_EQ(device.Volume, Both(level)) << level;
        EXPECT_EQ(Panel(3), QStringLiteral("%1").arg(level, 3)) << level;
        EXPECT_TRUE(form.Up1->isEnabled()) << level;
        EXPECT_EQ(form.Down1->isEnabled(), level > 0) << level;
    }
    EXPECT_EQ(device.Sets.size(), 10u);
    // The bound refuses the command even though only the menu item is off.
    form.Action10->trigger();
    EXPECT_EQ(device.Sets.size(), 10u);
    EXPECT_EQ(Panel(3), QStringLiteral("  0"));
    for (int level = 10; level <= 100; level += 10)
        form.Action9->trigger();
    EXPECT_EQ(device.Volume, 0xFFFFFFFFu);
    EXPECT_FALSE(form.Up1->isEnabled());
    form.Action9->trigger();
    EXPECT_EQ(device.Sets.size(), 20u);
}

TEST_F(OutputVolume, LevelFiftyIsSevenFffOnEachChannel) {
    for (int step = 0; step < 5; ++step)
        form.Action10->trigger();
    EXPECT_EQ(device.Volume, 0x7FFF7FFFu);
    EXPECT_EQ(VolumeLeft, 50);
    EXPECT_EQ(VolumeRight, 50);
    EXPECT_EQ(Panel(3), QStringLiteral(" 50"));
}

TEST_F(OutputVolume, MuteSilencesTheDeviceFreezesTheLevelAndGivesItBack) {
    form.Action10->trigger();
    form.Action10->trigger();
    form.Mute1->trigger();
    EXPECT_TRUE(Muted);
    EXPECT_EQ(device.Volume, 0u);
    EXPECT_EQ(Panel(3), QStringLiteral("Mute"));
    EXPECT_FALSE(form.Volume1->isEnabled());
    EXPECT_FALSE(form.Volume1->menuAction()->isEnabled()); // greyed in the popup menu
    EXPECT_FALSE(form.Mute1->isChecked());

    PlayA();
    device.Sets.clear();
    // Nothing that steps the volume acts while muted.
    form.Action9->trigger();
    form.Action10->trigger();
    RightPressOnStatusBar(10);
    RightPressOnStatusBar(500);
    Wheel(120);
    Wheel(-120);
    QTest::keyClick(&form, Qt::Key_E);
    QTest::keyClick(&form, Qt::Key_W);
    QTest::keyClick(&form, Qt::Key_E, Qt::ControlModifier | Qt::AltModifier);
    QTest::keyClick(&form, Qt::Key_W, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_TRUE(device.Sets.empty());
    EXPECT_EQ(VolumeLeft, 80);
    EXPECT_EQ(Panel(3), QStringLiteral("Mute"));

    // R, Ctrl+Alt+R and a double click on the status bar still switch it.
    QTest::keyClick(&form, Qt::Key_R);
    EXPECT_FALSE(Muted);
    EXPECT_EQ(device.Volume, Both(80));
    EXPECT_EQ(Panel(3), QStringLiteral(" 80"));
    EXPECT_TRUE(form.Volume1->isEnabled());
    QTest::keyClick(&form, Qt::Key_R, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_TRUE(Muted);
    QTest::mouseDClick(form.StatusBar1, Qt::LeftButton, {}, QPoint(100, 9));
    EXPECT_FALSE(Muted);
    EXPECT_EQ(device.Volume, Both(80));
}

TEST_F(OutputVolume, TheStatusBarSplitsAtThreeTwentyThreeAndTheFileListAtSixtyTwo) {
    RightPressOnStatusBar(322);
    EXPECT_EQ(VolumeLeft, 90);
    RightPressOnStatusBar(323);
    EXPECT_EQ(VolumeLeft, 100);
    RightPressOnStatusBar(0);
    RightPressOnStatusBar(0);
    EXPECT_EQ(VolumeLeft, 80);
    RightPressOnStatusBar(form.StatusBar1->width() - 1);
    EXPECT_EQ(VolumeLeft, 90);
    // A left press does nothing here.
    QTest::mouseClick(form.StatusBar1, Qt::LeftButton, {}, QPoint(10, 9));
    EXPECT_EQ(VolumeLeft, 90);

    RightPressOnFileList(61);
    EXPECT_EQ(VolumeLeft, 80);
    RightPressOnFileList(62);
    EXPECT_EQ(VolumeLeft, 90);
}

TEST_F(OutputVolume, EachPressOfARightDoubleClickIsOneStep) {
    QTest::mousePress(form.StatusBar1, Qt::RightButton, {}, QPoint(10, 9));
    QTest::mouseRelease(form.StatusBar1, Qt::RightButton, {}, QPoint(10, 9));
    QTest::mouseDClick(form.StatusBar1, Qt::RightButton, {}, QPoint(10, 9));
    EXPECT_EQ(VolumeLeft, 80);
    EXPECT_FALSE(Muted); // only the left double click mutes
}

TEST_F(OutputVolume, TheWheelStepsOncePerNotchAndOnlyWhileAFileIsOpen) {
    Wheel(-120);
    EXPECT_EQ(VolumeLeft, 100);
    PlayA();
    Wheel(-120);
    EXPECT_EQ(VolumeLeft, 90);
    // A fine-grained wheel: three events of 40 make one notch.
    Wheel(-40);
    Wheel(-40);
    EXPECT_EQ(VolumeLeft, 90);
    Wheel(-40);
    EXPECT_EQ(VolumeLeft, 80);
    Wheel(240);
    EXPECT_EQ(VolumeLeft, 100);
}

TEST_F(OutputVolume, ExitPutsBackWhatTheDeviceHeldAtStartEvenWhileMuted) {
    form.Action10->trigger();
    form.Action8->trigger();
    harness.DestroyWindow();
    EXPECT_EQ(device.Volume, kUsersVolume);
    EXPECT_EQ(device.Sets.back(), kUsersVolume);
}

TEST_F(OutputVolumeWithoutDevice, WithoutADeviceTheTextsAndMenusStillFollowAndExitRestoresNothing) {
    EXPECT_EQ(Panel(3), QStringLiteral("100"));
    form.Action10->trigger();
    EXPECT_EQ(Panel(3), QStringLiteral(" 90"));
    EXPECT_TRUE(form.Up1->isEnabled());
    form.Action8->trigger();
    EXPECT_EQ(Panel(3), QStringLiteral("Mute"));
    // The sound server comes up while the program runs: exit must not send the
    // 0 that nothing was read into.
    device.Available = true;
    harness.DestroyWindow();
    EXPECT_TRUE(device.Sets.empty());
    EXPECT_EQ(device.Volume, kUsersVolume);
}
