// SPDX-License-Identifier: GPL-3.0-or-later

#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // The private sound servers are child processes, watched from an event loop.
    QCoreApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
