// SPDX-License-Identifier: GPL-3.0-or-later

#include "common/ErrorReport.h"
#include "common/Exceptions.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <stdexcept>

TEST(ErrorReport, AppendsAPeriodWhenTheLastCharacterSortsAfterIt) {
    EXPECT_EQ(ErrorReportText(QStringLiteral("File not found")), QStringLiteral("File not found."));
    EXPECT_EQ(ErrorReportText(QStringLiteral("Done.")), QStringLiteral("Done."));
    EXPECT_EQ(ErrorReportText(QStringLiteral("Stop!")), QStringLiteral("Stop!"));
    EXPECT_EQ(ErrorReportText(QStringLiteral("code 5")), QStringLiteral("code 5."));
    EXPECT_EQ(ErrorReportText(QStringLiteral("a-")), QStringLiteral("a-"));
    EXPECT_EQ(ErrorReportText(QStringLiteral("a/")), QStringLiteral("a/."));
    EXPECT_EQ(ErrorReportText(QStringLiteral("ファイルが見つかりません")),
              QStringLiteral("ファイルが見つかりません."));
    EXPECT_EQ(ErrorReportText(QStringLiteral("絵文字😀")), QStringLiteral("絵文字😀."));
    EXPECT_EQ(ErrorReportText(QString()), QString());
}

TEST(ErrorReport, TheGuardReportsAnErrorAndTheProgramGoesOn) {
    MessageRecorder messages;
    bool after = false;
    RunGuarded([] { throw EInOutError(2, QStringLiteral("ファイルが見つかりません")); });
    RunGuarded([] { throw Exception(QStringLiteral("plain")); });
    RunGuarded([] { throw std::runtime_error("not one of ours"); });
    RunGuarded([] { throw 42; });
    RunGuarded([&] { after = true; });
    EXPECT_TRUE(after);
    ASSERT_EQ(messages.Messages().size(), 4u);
    EXPECT_EQ(messages.Messages()[0].Text, QStringLiteral("ファイルが見つかりません."));
    EXPECT_EQ(messages.Messages()[1].Text, QStringLiteral("plain."));
    // Anything that is not one of the player's errors is reported with an empty text.
    EXPECT_EQ(messages.Messages()[2].Text, QString());
    EXPECT_EQ(messages.Messages()[3].Text, QString());
    for (const MessageRequest& request : messages.Messages()) {
        EXPECT_EQ(request.Caption, QStringLiteral("Qel"));
        EXPECT_EQ(request.Icon, MessageIcon::Error);
    }
}

TEST(ErrorReport, AFailingReportDoesNotEscapeTheGuard) {
    SetMessageBoxHook([](const MessageRequest&) -> int { throw std::runtime_error("box broke"); });
    EXPECT_NO_THROW(RunGuarded([] { throw Exception(QStringLiteral("x")); }));
    SetMessageBoxHook(nullptr);
}
