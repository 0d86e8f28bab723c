// SPDX-License-Identifier: GPL-3.0-or-later

#include "tests/TestSupport.h"
#include "ui/Controls.h"
#include "ui/FileListBox.h"
#include "ui/MainForm.h"
#include "ui/StatusBar.h"
#include "ui/ToolBar.h"
#include "ui/Unit1.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

class Commands : public ::testing::Test {
protected:
    TempFolder folder;
    MainWindowHarness harness{folder.Path()};
    TForm1& form = harness.Form();

    QAction* Action(int number) const {
        return form.findChild<QAction*>(QStringLiteral("Action%1").arg(number));
    }

    // Counts how often each command runs.
    std::vector<std::unique_ptr<QSignalSpy>> SpyOnAllCommands() const {
        std::vector<std::unique_ptr<QSignalSpy>> spies;
        for (int i = 1; i <= 16; ++i)
            spies.push_back(std::make_unique<QSignalSpy>(Action(i), &QAction::triggered));
        return spies;
    }
};

int TotalRuns(const std::vector<std::unique_ptr<QSignalSpy>>& spies) {
    int total = 0;
    for (const auto& spy : spies)
        total += static_cast<int>(spy->count());
    return total;
}

QStringList MenuTexts(const QMenu* menu) {
    QStringList texts;
    for (const QAction* action : menu->actions())
        texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
    return texts;
}

// Runs a check once the next modal dialog is up, then closes it.
void WhenModal(const std::function<void(QWidget*)>& check) {
    QTimer::singleShot(0, [check] {
        QWidget* modal = QApplication::activeModalWidget();
        check(modal);
        if (modal)
            QTest::keyClick(modal, Qt::Key_Return);
    });
}

} // namespace

TEST_F(Commands, TheCommandListHoldsTheSixteenCommands) {
    const struct {
        int number;
        const char* category;
        const char* caption;
        const char* hint;
        int image;
        const char* shortcut;
    } table[] = {
        {1, "Control", "Play", "Play", 0, "Ctrl+Alt+X"},
        {2, "Control", "Stop", "Stop", 1, ""},
        {3, "Control", "Pause", "Pause", 2, ""},
        {4, "Control", "Next", "Next", 4, ""},
        {5, "Control", "Previous", "Previous", 3, ""},
        {6, "File", "Quit", "", -1, "Ctrl+Alt+Q"},
        {7, "Help", "About", "", -1, "Ctrl+Alt+A"},
        {8, "Control", "Mute", "", -1, "Ctrl+Alt+R"},
        {9, "Control", "Up", "", -1, "Ctrl+Alt+E"},
        {10, "Control", "Down", "", -1, "Ctrl+Alt+W"},
        {11, "Control", "Action11", "", -1, ""},
        {12, "Option", "Aspect Ratio", "", -1, ""},
        {13, "Option", "Single", "", -1, "Ctrl+Alt+O"},
        {14, "Option", "All", "", -1, "Ctrl+Alt+P"},
        {15, "Option", "Action15", "", -1, ""},
        {16, "Option", "Action16", "", -1, ""},
    };
    for (const auto& row : table) {
        QAction* action = Action(row.number);
        ASSERT_NE(action, nullptr) << row.number;
        EXPECT_EQ(action->property("category").toString(), QString::fromLatin1(row.category));
        EXPECT_EQ(action->text(), QString::fromLatin1(row.caption));
        if (*row.hint) {
            EXPECT_EQ(action->toolTip(), QString::fromLatin1(row.hint));
        }
        EXPECT_EQ(action->property("imageIndex").toInt(), row.image) << row.number;
        EXPECT_EQ(action->shortcut().toString(), QString::fromLatin1(row.shortcut)) << row.number;
        EXPECT_TRUE(action->isEnabled()) << row.number;
    }
}

TEST_F(Commands, ThePopupMenusShowTheirItemsAndShortcutLabels) {
    EXPECT_EQ(MenuTexts(form.PopupMenu1),
              (QStringList{"Previous\tZ", "Play\tCtrl+Alt+X", "Pause\tC", "Stop\tV", "Next\tB", "-",
                           "Volume", "Mute\tCtrl+Alt+R", "-", "About\tCtrl+Alt+A", "-",
                           "Quit\tCtrl+Alt+Q"}));
    EXPECT_EQ(MenuTexts(form.Volume1), (QStringList{"Up\tCtrl+Alt+E", "Down\tCtrl+Alt+W"}));
    EXPECT_EQ(MenuTexts(form.PopupMenu2),
              (QStringList{"Correct A-Ratio\tK", "Original Size\tL", "Loop"}));
    EXPECT_EQ(MenuTexts(form.N4), (QStringList{"Single\tCtrl+Alt+O", "All\tCtrl+Alt+P"}));

    for (TMenuItem* off : {form.P1, form.Play1, form.Pause1, form.Stop1, form.Next1, form.Up1,
                           form.AspectRatio1, form.OriginalSize1})
        EXPECT_FALSE(off->isEnabled()) << off->objectName().toStdString();
    for (TMenuItem* on : {form.Down1, form.Mute1, form.About1, form.Quit1, form.Single1, form.All1})
        EXPECT_TRUE(on->isEnabled()) << on->objectName().toStdString();
    EXPECT_TRUE(form.Volume1->menuAction()->isEnabled());
    EXPECT_TRUE(form.N4->menuAction()->isEnabled());
    EXPECT_TRUE(form.Single1->isCheckable());
    EXPECT_FALSE(form.Single1->Checked());
    EXPECT_FALSE(form.All1->Checked());
    EXPECT_EQ(form.OriginalSize1->Caption(), QStringLiteral("Original Size"));
    for (const char* name : {"N1", "N2", "N3"})
        EXPECT_TRUE(form.findChild<QAction*>(QString::fromLatin1(name))->isSeparator());
}

TEST_F(Commands, EachMenuItemRunsItsCommandOnceAndBindsNoKey) {
    const struct {
        TMenuItem* item;
        int command;
    } bindings[] = {{form.P1, 5},       {form.Play1, 1},         {form.Pause1, 3},
                    {form.Stop1, 2},    {form.Next1, 4},         {form.Up1, 9},
                    {form.Down1, 10},   {form.Mute1, 8},         {form.About1, 7},
                    {form.Quit1, 6},    {form.AspectRatio1, 12}, {form.OriginalSize1, 15},
                    {form.Single1, 13}, {form.All1, 14}};
    for (const auto& binding : bindings) {
        EXPECT_TRUE(binding.item->shortcut().isEmpty()) << binding.command;
        if (binding.command == 6 || binding.command == 7)
            continue; // quitting and the modal box are tested on their own
        auto spies = SpyOnAllCommands();
        binding.item->setEnabled(true); // as playback would
        binding.item->trigger();
        EXPECT_EQ(spies[binding.command - 1]->count(), 1) << binding.command;
        EXPECT_EQ(TotalRuns(spies), 1) << binding.command;
    }
}

TEST(MenuItem, TheCheckMarkBelongsToTheCommand) {
    QAction command;
    TMenuItem item(QStringLiteral("Single1"), QStringLiteral("Single"), {}, &command, nullptr);
    item.SetChecked(false);
    int runs = 0;
    QObject::connect(&command, &QAction::triggered, [&] {
        ++runs;
        if (runs == 1)
            item.SetChecked(true);
    });
    item.trigger();
    EXPECT_TRUE(item.Checked());
    EXPECT_TRUE(item.isChecked());
    item.trigger(); // this time the command leaves the mark alone
    EXPECT_EQ(runs, 2);
    EXPECT_TRUE(item.Checked());
    EXPECT_TRUE(item.isChecked());
}

TEST_F(Commands, CtrlAltShortcutsRunTheirCommandsWhereverTheFocusIs) {
    const struct {
        Qt::Key key;
        int command;
    } shortcuts[] = {{Qt::Key_X, 1},  {Qt::Key_R, 8},  {Qt::Key_E, 9},
                     {Qt::Key_W, 10}, {Qt::Key_O, 13}, {Qt::Key_P, 14}};
    for (QWidget* target :
         {static_cast<QWidget*>(&form), static_cast<QWidget*>(form.FileListBox1)}) {
        for (const auto& shortcut : shortcuts) {
            auto spies = SpyOnAllCommands();
            QTest::keyClick(target, shortcut.key, Qt::ControlModifier | Qt::AltModifier);
            EXPECT_EQ(spies[shortcut.command - 1]->count(), 1) << shortcut.command;
            EXPECT_EQ(TotalRuns(spies), 1) << shortcut.command;
        }
    }
}

TEST_F(Commands, TheLetterLabelsOfTheMenusDoNothing) {
    auto spies = SpyOnAllCommands();
    for (Qt::Key key : {Qt::Key_Z, Qt::Key_C, Qt::Key_V, Qt::Key_B, Qt::Key_K, Qt::Key_L}) {
        QTest::keyClick(&form, key);
        QTest::keyClick(form.FileListBox1, key);
    }
    EXPECT_EQ(TotalRuns(spies), 0);
}

TEST_F(Commands, CtrlAltQClosesTheWindowThroughItsClosePath) {
    QTest::keyClick(&form, Qt::Key_Q, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_FALSE(form.isVisible());
}

TEST_F(Commands, CtrlAltAShowsTheAboutBoxModallyCentredOverTheWindow) {
    form.move(100, 80);
    bool wasModal = false;
    QPoint boxCentre;
    const QPoint formCentre = form.frameGeometry().center();
    WhenModal([&](QWidget* modal) {
        wasModal = modal == AboutBox;
        boxCentre = modal ? modal->frameGeometry().center() : QPoint();
    });
    QTest::keyClick(form.FileListBox1, Qt::Key_A, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_TRUE(wasModal);
    EXPECT_LE((boxCentre - formCentre).manhattanLength(), 2);
    EXPECT_FALSE(AboutBox->isVisible());
    EXPECT_EQ(AboutBox->result(), 1);
}

TEST_F(Commands, TheTickGoesOnWhileTheAboutBoxIsOpen) {
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(10);
    // Closes the box from the box's own event loop once it has seen the ticks (or
    // has given up on them), so that no wait of the test's pumps the timer.
    QElapsedTimer open;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && (ticks >= 3 || open.elapsed() > 2000))
            QTest::keyClick(modal, Qt::Key_Return);
    });
    open.start();
    closer.start(5);
    form.Action7->trigger();
    EXPECT_GE(ticks, 3);
}

TEST_F(Commands, TheAboutBoxIsAFixedDialogThatEscapeDoesNotClose) {
    TAboutBox& box = *AboutBox;
    EXPECT_EQ(box.windowTitle(), QStringLiteral("About"));
    EXPECT_EQ(box.size(), QSize(252, 90));
    EXPECT_EQ(box.minimumSize(), box.maximumSize());
    EXPECT_FALSE(box.windowFlags() & Qt::WindowMinMaxButtonsHint);
    EXPECT_EQ(box.OKButton->geometry(), QRect(88, 57, 75, 25));
    EXPECT_EQ(box.OKButton->text(), QStringLiteral("OK"));
    EXPECT_TRUE(box.OKButton->isDefault());
    EXPECT_EQ(box.ProgramIcon->geometry(), QRect(16, 16, 32, 32));
    EXPECT_EQ(box.ProductName->text(), QStringLiteral("Qel ver.0.0.Ab"));
    EXPECT_EQ(box.ProductName->pos(), QPoint(72, 18));
    EXPECT_EQ(box.Version->pos(), QPoint(72, 34));
    EXPECT_FALSE(box.Version->text().isEmpty());
    EXPECT_LE(box.Version->geometry().right(), 252);
    EXPECT_FALSE(box.isVisible());

    bool stillOpenAfterEscape = false;
    QTimer::singleShot(0, [&] {
        QTest::keyClick(&box, Qt::Key_Escape);
        stillOpenAfterEscape = box.isVisible();
        QTest::mouseClick(box.OKButton, Qt::LeftButton);
    });
    EXPECT_EQ(box.exec(), 1);
    EXPECT_TRUE(stillOpenAfterEscape);
}

TEST_F(Commands, RightClicksOpenTheVideoAreaAndToolbarMenus) {
    QWindow* window = form.windowHandle();
    QTest::mouseClick(window, Qt::RightButton, {}, QPoint(100, 100));
    EXPECT_TRUE(form.PopupMenu1->isVisible());
    form.PopupMenu1->hide();
    // Also over a disabled button of the toolbar.
    const QPoint onButton = form.ToolButton4->mapTo(&form, QPoint(10, 10));
    QTest::mouseClick(window, Qt::RightButton, {}, onButton);
    EXPECT_TRUE(form.PopupMenu2->isVisible());
    form.PopupMenu2->hide();
}

TEST_F(Commands, TheStatusBarReportsPressesWithXAndLeftDoubleClicks) {
    QSignalSpy presses(form.StatusBar1, &TStatusBar::OnMouseDown);
    QSignalSpy doubles(form.StatusBar1, &TStatusBar::OnDblClick);
    QWindow* window = form.windowHandle();
    const QPoint origin = form.StatusBar1->mapTo(&form, QPoint(0, 0));
    QTest::mouseClick(window, Qt::RightButton, {}, origin + QPoint(322, 9));
    ASSERT_EQ(presses.count(), 1);
    EXPECT_EQ(presses[0].at(0).value<Qt::MouseButton>(), Qt::RightButton);
    EXPECT_TRUE(presses[0].at(1).value<Qt::MouseButtons>() & Qt::RightButton);
    EXPECT_EQ(presses[0].at(3).toInt(), 322);
    QTest::mouseDClick(window, Qt::LeftButton, {}, origin + QPoint(40, 9), 10);
    EXPECT_EQ(doubles.count(), 1);
    EXPECT_EQ(presses.count(), 3); // each press of the pair is a press
    QTest::mouseDClick(window, Qt::RightButton, {}, origin + QPoint(400, 9), 10);
    EXPECT_EQ(doubles.count(), 1);
    EXPECT_EQ(presses.count(), 5);
}

TEST_F(Commands, AClickOnTheVideoAreaIsOneClickAndADoubleClickAddsOneMore) {
    QSignalSpy clicks(form.Panel3, &TPanel::OnClick);
    QSignalSpy doubles(form.Panel3, &TPanel::OnDblClick);
    QWindow* window = form.windowHandle();
    QTest::mouseClick(window, Qt::LeftButton, {}, QPoint(50, 50));
    EXPECT_EQ(clicks.count(), 1);
    QTest::mouseDClick(window, Qt::LeftButton, {}, QPoint(60, 60), 10);
    EXPECT_EQ(clicks.count(), 2);
    EXPECT_EQ(doubles.count(), 1);
    // A press that leaves the area before its release is no click.
    QTest::mousePress(window, Qt::LeftButton, {}, QPoint(50, 50));
    QTest::mouseRelease(window, Qt::LeftButton, {}, QPoint(450, 50));
    EXPECT_EQ(clicks.count(), 2);
}
