// SPDX-License-Identifier: GPL-3.0-or-later

// The sentence a failed open gives, from what the engine said and the file's
// first bytes.

#include "platform/OpenFailure.h"

#include <mpv/client.h>

#include <gtest/gtest.h>

using namespace OpenFailure;

TEST(OpenFailure, EachKindOfRefusalGetsItsOwnSentence) {
    const QByteArray mpeg("\x00\x00\x01\xBA garbage", 13);
    const QByteArray noise("\x13\x37\xC0\xDE noise", 11);
    const Refusal unknown{false, MPV_ERROR_UNKNOWN_FORMAT, {}};
    // A list of other files, by its head, by the engine's redirect or by its words.
    for (const char* head : {"#EXTM3U\nclip.mpg", "  [playlist]\nFile1=a", "ffconcat version 1.0",
                             "http://example.org/a.mpg"})
        EXPECT_EQ(Classify(unknown, head), ReferencesText()) << head;
    EXPECT_EQ(Classify({true, MPV_ERROR_LOADING_FAILED, {}}, noise), ReferencesText());
    EXPECT_EQ(
        Classify({false, MPV_ERROR_LOADING_FAILED, {"Protocol 'file' not on whitelist"}}, noise),
        ReferencesText());
    // Not media at all, or media of a known container that is damaged.
    EXPECT_EQ(Classify(unknown, noise), NotMediaText());
    EXPECT_EQ(Classify(unknown, QByteArray()), NotMediaText());
    EXPECT_EQ(Classify(unknown, mpeg), DamagedText());
    EXPECT_EQ(Classify({false, MPV_ERROR_LOADING_FAILED, {}}, noise), DamagedText());
    // Bytes in a file of another kind are not an address.
    EXPECT_FALSE(RefersToOthers(QByteArray("RIFF://\0", 8)));
    EXPECT_TRUE(KnownContainer(QByteArray("\x00\x00\x00\x18"
                                          "ftypisom",
                                          12)));
}
