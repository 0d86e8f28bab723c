// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/FileSystem.h"
#include "common/Exceptions.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <unistd.h>

namespace {

std::map<QByteArray, int> AttributesIn(const QByteArray& folder, bool wantReadOnly) {
    std::map<QByteArray, int> result;
    const auto entries = ScanDirectory(folder, nullptr, wantReadOnly);
    if (entries)
        for (const ScannedEntry& entry : *entries)
            result[entry.Name] = entry.Attributes;
    return result;
}

} // namespace

TEST(FileSystem, MapsEachKindOfEntryToItsAttributes) {
    TempFolder folder;
    folder.File("plain.mpg");
    folder.File(".hidden.mpg");
    folder.Folder("folder.mpg");
    folder.Fifo("pipe.mpg");
    folder.Link("link-to-file.mpg", "plain.mpg");
    folder.Link("link-to-folder.mpg", "folder.mpg");
    folder.Link("broken.mpg", "nowhere");
    const auto attributes = AttributesIn(folder.Path(), false);
    ASSERT_EQ(attributes.size(), 7u); // "." and ".." are not entries
    EXPECT_EQ(attributes.at("plain.mpg"), 0);
    EXPECT_EQ(attributes.at(".hidden.mpg"), FileAttribute::Hidden);
    EXPECT_EQ(attributes.at("folder.mpg"), FileAttribute::Directory);
    EXPECT_EQ(attributes.at("pipe.mpg"), FileAttribute::System);
    EXPECT_EQ(attributes.at("link-to-file.mpg"), 0);
    EXPECT_EQ(attributes.at("link-to-folder.mpg"), FileAttribute::Directory);
    EXPECT_EQ(attributes.at("broken.mpg"), FileAttribute::System);
}

TEST(FileSystem, TheFilterDecidesBeforeAnyAttributeIsLookedUp) {
    TempFolder folder;
    folder.File("a.mpg");
    folder.File("b.txt");
    int asked = 0;
    const auto entries = ScanDirectory(
        folder.Path(),
        [&](const char* name, std::size_t length) {
            ++asked;
            return QByteArray(name, static_cast<qsizetype>(length)).endsWith(".mpg");
        },
        false);
    ASSERT_TRUE(entries);
    ASSERT_EQ(entries->size(), 1u);
    EXPECT_EQ((*entries)[0].Name, QByteArray("a.mpg"));
    EXPECT_EQ(asked, 2);
    EXPECT_FALSE(ScanDirectory(folder.PathOf("missing"), nullptr, false));
}

TEST(FileSystem, ReadOnlyMeansTheUserMayNotWrite) {
    TempFolder folder;
    folder.File("locked.mpg");
    folder.File("open.mpg");
    folder.Mode("locked.mpg", 0444);
    folder.Mode("open.mpg", 0666);
    EXPECT_TRUE(RunUnprivileged([&] {
        const auto attributes = AttributesIn(folder.Path(), true);
        return attributes.at("locked.mpg") == FileAttribute::ReadOnly &&
               attributes.at("open.mpg") == 0;
    }));
    // Without being asked, the access check is skipped.
    EXPECT_EQ(AttributesIn(folder.Path(), false).at("locked.mpg") & FileAttribute::ReadOnly, 0);
}

TEST(FileSystem, AbsolutePathsAreFormedAgainstTheCurrentFolder) {
    CurrentFolderGuard guard;
    TempFolder folder;
    folder.Folder("sub");
    ASSERT_EQ(ChangeDirectory(folder.Path()), 0);
    EXPECT_EQ(CurrentDirectory(), folder.Path());
    EXPECT_EQ(AbsolutePath("sub"), folder.PathOf("sub"));
    EXPECT_EQ(AbsolutePath("sub/./x/../"), folder.PathOf("sub"));
    EXPECT_EQ(AbsolutePath("/a//b/"), QByteArray("/a/b"));
    EXPECT_EQ(AbsolutePath("/.."), QByteArray("/"));
    EXPECT_EQ(ChangeDirectory(folder.PathOf("missing")), ENOENT);
    EXPECT_EQ(CurrentDirectory(), folder.Path());
}

TEST(FileSystem, TheCurrentFolderHoldsNoVolumeBusyAndRelativeNamesStillFollowIt) {
    CurrentFolderGuard guard;
    TempFolder folder;
    folder.Folder("stick");
    folder.File("stick/clip.mpg");
    ASSERT_EQ(ChangeDirectory(folder.PathOf("stick")), 0);
    // The kernel's idea of the process's folder, which is what keeps a medium busy.
    char held[4096] = {};
    ASSERT_GT(readlink("/proc/self/cwd", held, sizeof held - 1), 0);
    EXPECT_FALSE(QByteArray(held).startsWith(folder.Path())) << held;
    EXPECT_EQ(AbsolutePath("clip.mpg"), folder.PathOf("stick/clip.mpg"));
    EXPECT_EQ(ChangeDirectory(".."), 0);
    EXPECT_EQ(CurrentDirectory(), folder.Path());
}

TEST(InOutError, MapsTheSystemsErrorsToThePlayersCodesAndTexts) {
    const struct {
        int errnoValue;
        int code;
        const char* text;
    } cases[] = {
        {ENOENT, 2, "ファイルが見つかりません"},
        {ENOTDIR, 3, "不正なファイル名です"},
        {EMFILE, 4, "オープンしたファイルが多すぎます"},
        {ENFILE, 4, "オープンしたファイルが多すぎます"},
        {EACCES, 5, "ファイルへのアクセスが拒否されました"},
        {EPERM, 5, "ファイルへのアクセスが拒否されました"},
        {ELOOP, ELOOP, "I/O エラー (40)"},
        // Linux's errno 100 is a network error, not the player's code 100.
        {ENETDOWN, ENETDOWN, "I/O エラー (100)"},
    };
    for (const auto& c : cases) {
        const EInOutError error = EInOutError::FromErrno(c.errnoValue);
        EXPECT_EQ(error.ErrorCode, c.code) << c.errnoValue;
        EXPECT_EQ(error.Message, QString::fromUtf8(c.text)) << c.errnoValue;
    }
    EXPECT_EQ(EInOutError::TextOfCode(100), QStringLiteral("ファイルの末尾以降を読み込みました"));
    EXPECT_EQ(EInOutError::TextOfCode(101), QStringLiteral("ディスクがいっぱいです"));
    EXPECT_EQ(EInOutError::TextOfCode(106), QStringLiteral("入力値が数値ではありません"));
    EXPECT_EQ(EInOutError::TextOfCode(7), QStringLiteral("I/O エラー (7)"));
}
