// SPDX-License-Identifier: GPL-3.0-or-later

#include "shell/Application.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <cstring>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // --window-manager: run on the test command's second X server, the one with a
    // window manager (no display at all when there is none).
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--window-manager") == 0)
            qputenv("DISPLAY", qgetenv("QEL_TEST_WM_DISPLAY"));
    // Listing the tests needs no window system; running them needs the X server.
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    InitialiseApplication(application);
    return RUN_ALL_TESTS();
}
