// SPDX-License-Identifier: GPL-3.0-or-later

#include "shell/TerminationSignals.h"
#include "common/Exceptions.h"
#include "tests/TestSupport.h"
#include "ui/MainForm.h"
#include "ui/Unit1.h"

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>

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

TEST(TerminationSignals, ASignalBeforeAnyLoopIsKeptAndAFailingCloseIsReported) {
    // At start-up: the handlers are in, no loop runs yet.
    ASSERT_TRUE(InstallTerminationHandlers());
    ASSERT_EQ(std::raise(SIGTERM), 0);
    EXPECT_TRUE(TerminationRequested());
    MessageRecorder messages;
    int calls = 0;
    const TerminationSignals signals([&] {
        ++calls;
        throw Exception(QStringLiteral("close failed"));
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return calls == 1; }, 2000));
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_EQ(messages.LastText(), QStringLiteral("close failed."));
}

TEST(TerminationSignalsDeathTest, WithTheLoopHeldTheDeadlineEndsTheProgramWithCodeZero) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const TerminationDeadline deadline(
                std::chrono::milliseconds(200), [] { std::fputs("last words\n", stderr); },
                nullptr);
            std::raise(SIGTERM);
            // The window's thread held far longer than the deadline.
            std::this_thread::sleep_for(std::chrono::seconds(5));
            std::exit(3);
        },
        ::testing::ExitedWithCode(0), "last words");
}

TEST(TerminationSignalsDeathTest, ACrashSaysTheLastWordsAndStaysACrash) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto crashWith = [](int number) {
        const TerminationDeadline deadline(std::chrono::milliseconds(200), nullptr,
                                           [] { std::fputs("crash words\n", stderr); });
        if (number == SIGSEGV) {
            volatile int* nowhere = nullptr;
            *nowhere = 1;
        }
        std::abort();
    };
    EXPECT_EXIT(crashWith(SIGABRT), ::testing::KilledBySignal(SIGABRT), "crash words");
    // In the grace of an exit that was asked for, a crash is still a crash.
    EXPECT_EXIT(
        {
            TerminationDeadline deadline(
                std::chrono::milliseconds(500), [] { std::fputs("last words\n", stderr); },
                [] { std::fputs("crash words\n", stderr); });
            deadline.Arm();
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            std::abort();
        },
        ::testing::KilledBySignal(SIGABRT), "crash words");
#ifndef __SANITIZE_ADDRESS__
    // The address sanitizer keeps SIGSEGV for its own report.
    EXPECT_EXIT(crashWith(SIGSEGV), ::testing::KilledBySignal(SIGSEGV), "crash words");
#endif
}
