// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The listed entries of one folder, kept in three flat arrays: a folder of
// 100,000 files costs a handful of allocations and sorts within the caches.
class FileListContents {
public:
    // Lists an entry; copies > 1 lists it that many times.
    void Add(const char* name, std::size_t length, bool directory, int copies = 1);
    // Orders by the shown text without regard to case, then by the stored bytes.
    void Sort();

    int Count() const { return static_cast<int>(rows_.size()); }
    // The file system's bytes.
    QByteArray Name(int index) const;
    // As shown: decoded, folders in brackets.
    QString Text(int index) const;

private:
    struct Row {
        // The key's first sixteen units packed; they order as the keys do
        // wherever they differ, and most comparisons end there.
        std::uint64_t keyPrefix[2];
        std::size_t name;
        std::size_t key;
        std::uint32_t nameLength;
        std::uint32_t keyLength;
        bool directory;
    };

    std::string_view NameOf(const Row& row) const;
    QStringView KeyOf(const Row& row) const;
    void AppendKey(const char* name, std::size_t length, bool directory);

    std::string names_;
    std::u16string keys_; // the shown texts folded to one case
    std::vector<Row> rows_;
};
