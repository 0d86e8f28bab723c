#include "shell/TerminationSignals.h"
#include "tests/TestSupport.h"
#include "ui/MainForm.h"
#include "ui/Unit1.h"

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <csignal>

TEST(TerminationSignals, EachSignalBecomesOneCallOnTheEventLoop) {
    int calls = 0;
    const TerminationSignals signals([&] { ++calls; });
    for (int number : {SIGTERM, SIGINT, SIGHUP}) {
        const int before = calls;
        ASSERT_EQ(std::raise(number), 0);
        // Not from inside the handler: only once the loop runs.
        EXPECT_EQ(calls, before);
        EXPECT_TRUE(QTest::qWaitFor([&] { return calls == before + 1; }, 2000)) << number;
    }
}

TEST(TerminationSignals, TheCloseAnswersAnOpenModalBoxFirst) {
    TempFolder folder;
    MainWindowHarness harness(folder.Path());
    TForm1& form = harness.Form();
    bool boxWasOpen = false;
    QTimer::singleShot(0, [&] {
        boxWasOpen = QApplication::activeModalWidget() == AboutBox;
        CloseMainWindowForSignal();
    });
    form.Action7->trigger(); // returns once the box has been answered
    EXPECT_TRUE(boxWasOpen);
    EXPECT_FALSE(AboutBox->isVisible());
    EXPECT_FALSE(form.isVisible());
}
