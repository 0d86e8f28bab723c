// SPDX-License-Identifier: GPL-3.0-or-later

#include "ui/FileListContents.h"

#include "platform/FileSystem.h"

#include <gtest/gtest.h>

#include <QStringList>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

struct Listed {
    std::string name;
    bool directory;
};

QString Shown(const Listed& entry) {
    const QString text = DisplayName(QByteArray(entry.name.data(), qsizetype(entry.name.size())));
    return entry.directory ? QLatin1Char('[') + text + QLatin1Char(']') : text;
}

// The order the list must have, computed the slow and obvious way.
QStringList ReferenceOrder(std::vector<Listed> entries) {
    std::stable_sort(entries.begin(), entries.end(), [](const Listed& a, const Listed& b) {
        if (const int order = Shown(a).toCaseFolded().compare(Shown(b).toCaseFolded()))
            return order < 0;
        return a.name < b.name;
    });
    QStringList texts;
    for (const Listed& entry : entries)
        texts << Shown(entry);
    return texts;
}

QStringList ListedOrder(const std::vector<Listed>& entries) {
    FileListContents contents;
    for (const Listed& entry : entries)
        contents.Add(entry.name.data(), entry.name.size(), entry.directory);
    contents.Sort();
    QStringList texts;
    for (int i = 0; i < contents.Count(); ++i)
        texts << contents.Text(i);
    return texts;
}

} // namespace

// Names that share long prefixes, differ only in case, or carry units at and
// above 0xFF where the packed prefixes stop, must still sort as their full keys.
TEST(FileListContents, SortsAsTheFoldedTextsDoWhateverThePrefixes) {
    const std::vector<std::string> pieces = {
        "a", "A", "z",    "0",    " ", "_",    "\xc3\xbf", "Ā",   "ß", "SS", "\xc3\x9f",
        "é", "É", "日本", "\xff", "~", "clip", "Clip ",    "MOV", "[", "]"};
    std::mt19937 random(20261208);
    std::vector<Listed> entries;
    for (int i = 0; i < 3000; ++i) {
        std::string name = i % 2 ? "clip_0000000000000" : ""; // past both prefixes
        const int count = 1 + int(random() % 20);
        for (int n = 0; n < count; ++n)
            name += pieces[random() % pieces.size()];
        entries.push_back({name, random() % 7 == 0});
    }
    EXPECT_EQ(ListedOrder(entries), ReferenceOrder(entries));
}

TEST(FileListContents, KeepsBytesAndListsRepeatsAndFoldersInBrackets) {
    FileListContents contents;
    const std::string latin1 = "caf\xe9.mpg"; // not UTF-8
    contents.Add(latin1.data(), latin1.size(), false);
    contents.Add("Sub", 3, true);
    contents.Add("a.mpg", 5, false, 2);
    contents.Add("never", 5, false, 0);
    contents.Sort();
    ASSERT_EQ(contents.Count(), 4);
    EXPECT_EQ(contents.Text(0), QStringLiteral("[Sub]"));
    EXPECT_EQ(contents.Name(0), QByteArray("Sub"));
    EXPECT_EQ(contents.Name(1), QByteArray("a.mpg"));
    EXPECT_EQ(contents.Name(2), QByteArray("a.mpg"));
    EXPECT_EQ(contents.Name(3), QByteArray(latin1.data(), qsizetype(latin1.size())));
    EXPECT_EQ(contents.Text(3), QStringLiteral("caf\\xe9.mpg")); // the odd byte shown
}
