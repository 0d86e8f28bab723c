// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/WildcardMask.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {
int Count(const WildcardMask& mask, const char* name) {
    return mask.CountMatches(name, std::strlen(name));
}
} // namespace

TEST(WildcardMask, MatchesTheFourVideoPatternsWithoutRegardToCase) {
    const WildcardMask mask(QStringLiteral("*.mpg;*.wmv;*.asf;*.mpeg"));
    for (const char* name : {"a.mpg", "B.MPG", "c.Wmv", "d.ASF", "e.mpeg", "x.y.mpg", ".mpg"})
        EXPECT_EQ(Count(mask, name), 1) << name;
    for (const char* name : {"a.avi", "a.mp3", "a.mpgx", "a.mpe", "mpg", "a.mpg.part", "a_mpg"})
        EXPECT_EQ(Count(mask, name), 0) << name;
}

TEST(WildcardMask, APatternNamedTwiceCountsTwiceAndEmptyPartsAreIgnored) {
    const WildcardMask mask(QStringLiteral("*.mpg;;*.MPG; "));
    EXPECT_EQ(Count(mask, "clip.mpg"), 2);
    EXPECT_EQ(Count(mask, "clip.wmv"), 0);
}

TEST(WildcardMask, QuestionMarkAndInnerStarsBacktrack) {
    const WildcardMask mask(QStringLiteral("a?c*.mp*g"));
    EXPECT_EQ(Count(mask, "abc.mpg"), 1);
    EXPECT_EQ(Count(mask, "aXcYYY.mp.mpeg"), 1);
    EXPECT_EQ(Count(mask, "ac.mpg"), 0);
    EXPECT_EQ(Count(mask, "abc.mpgx"), 0);
    EXPECT_EQ(Count(WildcardMask(QStringLiteral("*.*")), "noextension"), 1);
}

TEST(WildcardMask, NonAsciiBytesAreMatchedAsThemselves) {
    const WildcardMask mask(QStringLiteral("*.mpg"));
    EXPECT_EQ(Count(mask, "\xff\xfe bad utf8.mpg"), 1);
    EXPECT_EQ(Count(mask, "映像.MPG"), 1);
}

TEST(WildcardMask, AStarThenPlainTextIsATestOfTheNamesTail) {
    const WildcardMask noDot(QStringLiteral("*mpg"));
    EXPECT_EQ(Count(noDot, "mpg"), 1) << "the star may stand for nothing";
    EXPECT_EQ(Count(noDot, "xMPG"), 1);
    EXPECT_EQ(Count(noDot, "pg"), 0) << "shorter than the tail";
    EXPECT_EQ(Count(noDot, "mpgx"), 0);
    // More wildcards than the leading star take the general match.
    EXPECT_EQ(Count(WildcardMask(QStringLiteral("**.mpg")), "a.mpg"), 1);
    EXPECT_EQ(Count(WildcardMask(QStringLiteral("*.mp?")), "a.MPG"), 1);
    EXPECT_EQ(Count(WildcardMask(QStringLiteral("*.mp?")), "a.mpeg"), 0);
    EXPECT_EQ(Count(WildcardMask(QStringLiteral("*.*;*")), "anything"), 2);
}
