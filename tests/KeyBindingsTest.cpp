// SPDX-License-Identifier: GPL-3.0-or-later

#include "tests/PlayerFixture.h"
#include "ui/Unit1.h"

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QTest>
#include <QTimer>

#include <functional>
#include <utility>

namespace {

class Keys : public PlayerFixture {
protected:
    Keys()
        : PlayerFixture({{"a.mpg", {60000, 352, 240, {}}},
                         {"b.mpg", {60000, 352, 240, {}}},
                         {"c.mpg", {60000, 352, 240, {}}}}) {}

    // Playing the second of three selected files, so that every command has
    // something to do.
    void PlaySecondOfThree() {
        Select({"a.mpg", "b.mpg", "c.mpg"});
        form.Action1->trigger();
        form.Action4->trigger();
        ASSERT_EQ(FileIndex, Row("b.mpg"));
        media.Advance(20000);
        Tick();
        media.ClearCommands();
        device.Sets.clear();
    }

    // Everything a key could change, to see that an unbound key changes none of it.
    QStringList State() {
        QStringList state = media.Commands();
        for (int panel = 0; panel < 6; ++panel)
            state << Panel(panel);
        state << QString::number(device.Sets.size()) << QString::number(FileIndex)
              << QString::number(form.width()) << QString::number(form.height())
              << QString::number(form.isVisible()) << QString::number(Muted)
              << QString::number(form.Single1->Checked()) << QString::number(form.All1->Checked())
              << QString::number(form.ProgressBar1->Position())
              << QString::number(form.MediaPlayer1->Mode()) << QString::number(aboutShown);
        return state;
    }

    // Counts the About boxes shown, and answers them.
    void AnswerAboutBoxes() {
        QTimer::singleShot(0, [this] {
            if (QApplication::activeModalWidget() == AboutBox) {
                ++aboutShown;
                AboutBox->done(1);
            }
        });
    }

    void SendKey(QEvent::Type type, Qt::Key key, bool autoRepeat) {
        QKeyEvent event(type, key, Qt::NoModifier, QString(), autoRepeat);
        QApplication::sendEvent(&form, &event);
    }

    int aboutShown = 0;
};

} // namespace

TEST_F(Keys, EveryLetterOfTheTableRunsItsCommandWhileAFileIsOpen) {
    const std::vector<std::pair<Qt::Key, std::function<bool()>>> letters = {
        {Qt::Key_C,
         [&] {
             return form.MediaPlayer1->Mode() == mpPaused;
         }},
        {Qt::Key_V,
         [&] {
             return form.MediaPlayer1->DeviceID() == 0;
         }},
        {Qt::Key_Z,
         [&] {
             return FileIndex == Row("a.mpg");
         }},
        {Qt::Key_B,
         [&] {
             return FileIndex == Row("c.mpg");
         }},
        {Qt::Key_K,
         [&] {
             return form.width() == 573;
         }},
        {Qt::Key_L,
         [&] {
             return form.Panel3->size() == QSize(352, 240);
         }},
        {Qt::Key_Q,
         [&] {
             return !form.isVisible();
         }},
        {Qt::Key_W,
         [&] {
             return VolumeLeft == 90;
         }},
        {Qt::Key_E,
         [&] {
             return VolumeLeft == 100 && device.Sets.size() == 2;
         }},
        {Qt::Key_O,
         [&] {
             return form.Single1->Checked();
         }},
        {Qt::Key_P,
         [&] {
             return form.All1->Checked();
         }},
        {Qt::Key_A,
         [&] {
             return aboutShown == 1;
         }},
        {Qt::Key_R,
         [&] {
             return Muted;
         }},
        {Qt::Key_X,
         [&] {
             return FileIndex == Row("a.mpg") && PlayOrdinal == 1;
         }},
    };
    for (const auto& [key, happened] : letters) {
        PlaySecondOfThree();
        if (key == Qt::Key_E)
            form.Action10Execute(nullptr); // from 90, so that E has a step to make
        AnswerAboutBoxes();
        QTest::keyClick(&form, key, Qt::ShiftModifier);
        EXPECT_TRUE(happened()) << QKeySequence(key).toString().toStdString();
        // Back to a playing window for the next letter.
        form.show();
        form.resize(TForm1::DesignClientWidth, TForm1::DesignClientHeight);
        if (form.Single1->Checked())
            form.Action13Execute(nullptr);
        if (form.All1->Checked())
            form.Action14Execute(nullptr);
        if (Muted)
            form.Action8Execute(nullptr);
        if (VolumeLeft < 100)
            form.Action9Execute(nullptr);
        aboutShown = 0;
        form.Action2Execute(nullptr);
    }
}

// Keys typed while the next file opens run once it is open, in order, unless a
// box has come up meanwhile: the window's input does not act behind a box.
TEST_F(Keys, KeysTypedWhileAFileOpensRunOnceItIsOpen) {
    PlaySecondOfThree();
    const auto type = [&](int key) {
        for (const QEvent::Type kind : {QEvent::KeyPress, QEvent::KeyRelease})
            QCoreApplication::postEvent(&form, new QKeyEvent(kind, key, Qt::NoModifier));
    };
    const auto opened = [&] {
        return QTest::qWaitFor([&] { return form.MediaPlayer1->State() == TMediaState::Open; },
                               2000);
    };
    media.SetOpenTime(100);
    form.Action4->trigger(); // Next: c.mpg
    type(Qt::Key_B);
    type(Qt::Key_C);
    QCoreApplication::processEvents();
    EXPECT_EQ(form.MediaPlayer1->State(), TMediaState::Opening) << "a key ran inside the open";
    ASSERT_TRUE(opened());
    // B at the last file does nothing, and C pauses.
    EXPECT_EQ(FileIndex, Row("c.mpg"));
    EXPECT_EQ(form.MediaPlayer1->Mode(), mpPaused);

    form.Action5->trigger(); // Previous: b.mpg
    type(Qt::Key_C);
    QCoreApplication::processEvents();
    QDialog box(&form);
    box.setModal(true);
    box.show();
    ASSERT_TRUE(opened());
    QCoreApplication::processEvents();
    EXPECT_EQ(form.MediaPlayer1->Mode(), mpPlaying);
    box.close();

    // From idle the file list has the focus: a letter typed during the first open
    // is the player's, not a search of the list that would change the play list.
    form.Action2->trigger();
    Select({"a.mpg", "b.mpg", "c.mpg"});
    form.FileListBox1->setFocus();
    form.Action1->trigger();
    QTest::keyClick(form.focusWidget() ? form.focusWidget() : &form, Qt::Key_C);
    ASSERT_TRUE(opened());
    QCoreApplication::processEvents();
    EXPECT_EQ(form.FileListBox1->SelCount(), 3);
    EXPECT_EQ(form.MediaPlayer1->Mode(), mpPaused);
}

TEST_F(Keys, CtrlOrAltLeavesOnlyTheTransportAndGeometryLetters) {
    PlaySecondOfThree();
    const QStringList before = State();
    for (Qt::KeyboardModifiers modifiers :
         {Qt::KeyboardModifiers(Qt::ControlModifier), Qt::KeyboardModifiers(Qt::AltModifier)}) {
        for (Qt::Key key : {Qt::Key_Q, Qt::Key_W, Qt::Key_E, Qt::Key_O, Qt::Key_P, Qt::Key_A,
                            Qt::Key_R, Qt::Key_X}) {
            AnswerAboutBoxes();
            QTest::keyClick(&form, key, modifiers);
            QTest::qWait(0);
        }
    }
    EXPECT_EQ(State(), before);
    // Ctrl+C pauses as C does.
    QTest::keyClick(&form, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(form.MediaPlayer1->Mode(), mpPaused);
    QTest::keyClick(&form, Qt::Key_C, Qt::AltModifier | Qt::ShiftModifier);
    EXPECT_EQ(form.MediaPlayer1->Mode(), mpPlaying);
}

TEST_F(Keys, KeysOutsideTheTableRunNothing) {
    PlaySecondOfThree();
    const QStringList before = State();
    std::vector<Qt::Key> unbound = {Qt::Key_F,     Qt::Key_G,      Qt::Key_H,     Qt::Key_I,
                                    Qt::Key_J,     Qt::Key_M,      Qt::Key_N,     Qt::Key_T,
                                    Qt::Key_U,     Qt::Key_Y,      Qt::Key_Left,  Qt::Key_Right,
                                    Qt::Key_Up,    Qt::Key_Down,   Qt::Key_Space, Qt::Key_Return,
                                    Qt::Key_Enter, Qt::Key_Escape, Qt::Key_Tab};
    for (int digit = Qt::Key_0; digit <= Qt::Key_9; ++digit)
        unbound.push_back(static_cast<Qt::Key>(digit));
    for (int function = Qt::Key_F1; function <= Qt::Key_F12; ++function)
        unbound.push_back(static_cast<Qt::Key>(function));
    for (Qt::Key key : unbound)
        QTest::keyClick(&form, key);
    EXPECT_EQ(State(), before);
}

TEST_F(Keys, WithNoFileOpenNoLetterActsButTheShortcutsDo) {
    Select({"a.mpg"});
    const QStringList before = State();
    for (int key = Qt::Key_A; key <= Qt::Key_Z; ++key) {
        AnswerAboutBoxes();
        QTest::keyClick(&form, static_cast<Qt::Key>(key));
        QTest::qWait(0);
    }
    EXPECT_EQ(State(), before);
    AnswerAboutBoxes();
    QTest::keyClick(&form, Qt::Key_A, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(aboutShown, 1);
    // The main window has the keys again once the box has gone.
    EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == &form; }, 1000));
    QTest::keyClick(&form, Qt::Key_Q, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_FALSE(form.isVisible());
}

TEST_F(Keys, HoldingDPausesOnceStepsPerRepeatAndPlaysOnlyOnTheRealRelease) {
    PlaySecondOfThree(); // at 20 s of 60: steps of 600 ms
    SendKey(QEvent::KeyPress, Qt::Key_D, false);
    EXPECT_EQ(form.ProgressBar1->Position(), 20600);
    EXPECT_EQ(Panel(1), QStringLiteral("  0:20/   1:00"));
    for (int repeat = 0; repeat < 4; ++repeat) {
        // X11 sends a release before every repeated press.
        SendKey(QEvent::KeyRelease, Qt::Key_D, true);
        SendKey(QEvent::KeyPress, Qt::Key_D, true);
    }
    EXPECT_EQ(form.ProgressBar1->Position(), 23000);
    EXPECT_EQ(Panel(1), QStringLiteral("  0:23/   1:00"));
    EXPECT_EQ(media.Commands(), QStringList{"pause"});
    EXPECT_FALSE(form.Timer1->Enabled());
    SendKey(QEvent::KeyRelease, Qt::Key_D, false);
    EXPECT_TRUE(QTest::qWaitFor([&] { return media.Commands().size() == 2; }, 1000));
    EXPECT_EQ(media.Commands(), (QStringList{"pause", "play from 23000"}));
    EXPECT_TRUE(form.Timer1->Enabled());

    // S goes back the same way, with Ctrl held too.
    QTest::keyPress(&form, Qt::Key_S, Qt::ControlModifier);
    QTest::keyRelease(&form, Qt::Key_S, Qt::ControlModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return media.Commands().size() == 4; }, 1000));
    EXPECT_EQ(media.Commands().last(), QStringLiteral("play from 22400"));
}

TEST_F(Keys, AnUnmarkedReleaseFollowedAtOnceByAPressIsARepeatNotARelease) {
    PlaySecondOfThree();
    // A loaded machine leaves some repeats' releases unmarked.
    SendKey(QEvent::KeyPress, Qt::Key_D, false);
    for (int repeat = 0; repeat < 6; ++repeat) {
        SendKey(QEvent::KeyRelease, Qt::Key_D, repeat % 2 == 0 ? false : true);
        SendKey(QEvent::KeyPress, Qt::Key_D, repeat % 2 == 0 ? false : true);
        QTest::qWait(5);
    }
    QTest::qWait(150);
    EXPECT_EQ(media.Commands(), QStringList{"pause"}) << "played during the hold";
    EXPECT_FALSE(form.Timer1->Enabled());
    SendKey(QEvent::KeyRelease, Qt::Key_D, false);
    EXPECT_TRUE(QTest::qWaitFor([&] { return media.Commands().size() == 2; }, 1000));
    EXPECT_EQ(media.Commands(), (QStringList{"pause", "play from 24200"}));

    // Released D, then S at once: both count, in that order.
    SendKey(QEvent::KeyPress, Qt::Key_D, false);
    SendKey(QEvent::KeyRelease, Qt::Key_D, false);
    SendKey(QEvent::KeyPress, Qt::Key_S, false);
    EXPECT_EQ(media.Commands().mid(2), (QStringList{"pause", "play from 24800", "pause"}));
    SendKey(QEvent::KeyRelease, Qt::Key_S, false);
    QTest::qWait(150);
    EXPECT_EQ(media.Commands().mid(5), QStringList{"play from 24200"});

    // Released, and the next file opened at once: the seek is not sent to it.
    SendKey(QEvent::KeyPress, Qt::Key_D, false);
    SendKey(QEvent::KeyRelease, Qt::Key_D, false);
    form.Action4->trigger();
    ASSERT_EQ(FileIndex, Row("c.mpg"));
    media.ClearCommands();
    QTest::qWait(150);
    EXPECT_EQ(media.Commands(), QStringList{});
}

TEST_F(Keys, HeldLettersRunTheirCommandAtEveryRepeat) {
    PlaySecondOfThree();
    form.Action10Execute(nullptr);
    form.Action10Execute(nullptr);
    form.Action10Execute(nullptr);
    for (int repeat = 0; repeat < 5; ++repeat)
        SendKey(QEvent::KeyPress, Qt::Key_E, repeat > 0);
    EXPECT_EQ(VolumeLeft, 100);
    SendKey(QEvent::KeyPress, Qt::Key_B, false);
    SendKey(QEvent::KeyPress, Qt::Key_B, true);
    EXPECT_EQ(FileIndex, Row("c.mpg"));
}

TEST_F(Keys, TheWindowKeepsTheFocusWhilePlayingSoKeysReachIt) {
    Select({"a.mpg"});
    form.FileListBox1->setFocus();
    form.Action1->trigger();
    EXPECT_TRUE(form.hasFocus());
    // A click on a tool button does not take the focus away.
    QTest::mouseClick(form.ToolButton4, Qt::LeftButton);
    EXPECT_EQ(form.MediaPlayer1->Mode(), mpPaused);
    EXPECT_TRUE(form.hasFocus());
}

TEST_F(Keys, KeysWithoutACodeAndLettersOfANonLatinLayoutAreMatchedByTheKeysPlace) {
    // A layout switch or a key without a key symbol: Qt's key is 0.
    const auto sendCodeless = [&] {
        for (QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
            QKeyEvent event(type, 0, Qt::NoModifier, 50, 0xfe08, 0);
            QApplication::sendEvent(&form, &event);
        }
    };
    sendCodeless(); // a fresh window, nothing open
    PlaySecondOfThree();
    const QStringList before = State();
    sendCodeless();
    EXPECT_EQ(State(), before);

    // Russian active: the keys printed W/Ц, C/С and D/В give Cyrillic letters,
    // their places the Latin ones.
    const auto sendRussian = [&](QEvent::Type type, int cyrillic, quint32 place,
                                 Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QKeyEvent event(type, cyrillic, modifiers, place, 0, 0, QString(QChar(cyrillic)));
        QApplication::sendEvent(&form, &event);
    };
    sendRussian(QEvent::KeyPress, 0x426, 25); // W
    EXPECT_EQ(VolumeLeft, 90);
    sendRussian(QEvent::KeyPress, 0x421, 54); // C
    EXPECT_EQ(form.MediaPlayer1->Mode(), mpPaused);
    media.ClearCommands();
    sendRussian(QEvent::KeyPress, 0x412, 40); // D held, then let go
    EXPECT_EQ(form.ProgressBar1->Position(), 20600);
    sendRussian(QEvent::KeyRelease, 0x412, 40);
    EXPECT_TRUE(QTest::qWaitFor([&] { return media.Commands().size() == 1; }, 1000));
    EXPECT_EQ(media.Commands(), QStringList{"play from 20600"});
    // A Ctrl+Alt shortcut, which Qt finds no Latin letter for without a Latin group.
    sendRussian(QEvent::KeyPress, 0x426, 25, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(VolumeLeft, 80);
    // A letter of a Latin layout keeps the letter printed on it: AZERTY's W is
    // where QWERTY has Z.
    QKeyEvent azertyW(QEvent::KeyPress, Qt::Key_W, Qt::NoModifier, 52, 'w', 0, "w");
    QApplication::sendEvent(&form, &azertyW);
    EXPECT_EQ(VolumeLeft, 70);
    EXPECT_EQ(FileIndex, Row("b.mpg"));
}

TEST_F(Keys, ASeekKeyHeldAsTheWindowLosesTheFocusIsReleasedThere) {
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    PlaySecondOfThree();
    QWidget elsewhere;
    for (bool released : {false, true}) {
        media.ClearCommands();
        SendKey(QEvent::KeyPress, Qt::Key_D, false);
        // Let go just before the switch: the release waits for a repeat's press.
        if (released)
            SendKey(QEvent::KeyRelease, Qt::Key_D, false);
        elsewhere.show();
        elsewhere.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&elsewhere));
        EXPECT_EQ(media.Commands().size(), 2) << released;
        EXPECT_TRUE(media.Commands().last().startsWith("play from")) << released;
        EXPECT_TRUE(form.Timer1->Enabled());
        // Its release there never comes back; coming back changes nothing more.
        form.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
        elsewhere.hide();
        QTest::qWait(100);
        EXPECT_EQ(media.Commands().size(), 2) << released;
    }
}
