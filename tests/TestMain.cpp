// SPDX-License-Identifier: GPL-3.0-or-later

#include "shell/Application.h"

#include <QApplication>
#include <QStyleHints>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // Listing the tests at build time has no display either.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    InitialiseApplication(application);
    // Simulated mouse events carry simulated times: QTest puts 500 ms between
    // separate clicks and none between a pair's presses, so no test waits out
    // the interval in real time. Pinned, so that a platform theme cannot make
    // separate clicks a pair.
    QGuiApplication::styleHints()->setMouseDoubleClickInterval(200);
    return RUN_ALL_TESTS();
}
