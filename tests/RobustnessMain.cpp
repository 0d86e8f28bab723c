// SPDX-License-Identifier: GPL-3.0-or-later

#include "shell/Application.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // An X server of these suites' own, when the test command starts one, so
    // that they run beside the end-to-end tests.
    if (!qEnvironmentVariableIsEmpty("QEL_TEST_ROBUST_DISPLAY"))
        qputenv("DISPLAY", qgetenv("QEL_TEST_ROBUST_DISPLAY"));
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    InitialiseApplication(application);
    return RUN_ALL_TESTS();
}
