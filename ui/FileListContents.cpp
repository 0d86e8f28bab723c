// SPDX-License-Identifier: GPL-3.0-or-later

#include "ui/FileListContents.h"

#include "platform/FileSystem.h"

#include <algorithm>

namespace {

bool IsAscii(const char* text, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i)
        if (static_cast<unsigned char>(text[i]) >= 0x80)
            return false;
    return true;
}

QString ShownText(QString decoded, bool directory) {
    return directory ? QLatin1Char('[') + decoded + QLatin1Char(']') : decoded;
}

// Eight units of a key from start, as bytes, most significant first. Packing
// stops at a unit that does not fit below 0xFF, which is marked 0xFF, and at the
// end of the key (names hold no NUL), so unequal prefixes order as their keys do.
// Complete tells whether all eight units were packed.
std::uint64_t KeyPrefix(std::u16string_view key, std::size_t start, bool* complete) {
    std::uint64_t prefix = 0;
    int shift = 56;
    *complete = false;
    for (std::size_t i = start; i < start + 8; ++i) {
        if (i >= key.size())
            return prefix;
        const char16_t unit = key[i];
        if (unit >= 0xFF)
            return prefix | std::uint64_t{0xFF} << shift;
        prefix |= std::uint64_t{unit} << shift;
        shift -= 8;
    }
    *complete = true;
    return prefix;
}

} // namespace

void FileListContents::Add(const char* name, std::size_t length, bool directory, int copies) {
    if (copies < 1)
        return;
    Row row{{0, 0}, names_.size(), keys_.size(), static_cast<std::uint32_t>(length), 0, directory};
    names_.append(name, length);
    AppendKey(name, length, directory);
    row.keyLength = static_cast<std::uint32_t>(keys_.size() - row.key);
    const std::u16string_view key = std::u16string_view(keys_).substr(row.key);
    bool complete = false;
    row.keyPrefix[0] = KeyPrefix(key, 0, &complete);
    row.keyPrefix[1] = complete ? KeyPrefix(key, 8, &complete) : 0;
    rows_.insert(rows_.end(), static_cast<std::size_t>(copies), row);
}

void FileListContents::AppendKey(const char* name, std::size_t length, bool directory) {
    // Most names are ASCII, whose case folding is plain lower case.
    if (IsAscii(name, length)) {
        const std::size_t start = keys_.size();
        keys_.resize(start + length + (directory ? 2 : 0));
        char16_t* key = keys_.data() + start;
        if (directory)
            *key++ = u'[';
        for (std::size_t i = 0; i < length; ++i) {
            const char c = name[i];
            *key++ = static_cast<char16_t>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        }
        if (directory)
            *key = u']';
        return;
    }
    const QString folded =
        ShownText(DisplayName(QByteArray(name, static_cast<qsizetype>(length))), directory)
            .toCaseFolded();
    keys_.append(reinterpret_cast<const char16_t*>(folded.utf16()),
                 static_cast<std::size_t>(folded.size()));
}

void FileListContents::Sort() {
    std::sort(rows_.begin(), rows_.end(), [this](const Row& a, const Row& b) {
        if (a.keyPrefix[0] != b.keyPrefix[0])
            return a.keyPrefix[0] < b.keyPrefix[0];
        if (a.keyPrefix[1] != b.keyPrefix[1])
            return a.keyPrefix[1] < b.keyPrefix[1];
        if (const int order = KeyOf(a).compare(KeyOf(b)))
            return order < 0;
        return NameOf(a) < NameOf(b);
    });
}

QByteArray FileListContents::Name(int index) const {
    const std::string_view name = NameOf(rows_[static_cast<std::size_t>(index)]);
    return QByteArray(name.data(), static_cast<qsizetype>(name.size()));
}

QString FileListContents::Text(int index) const {
    const Row& row = rows_[static_cast<std::size_t>(index)];
    const std::string_view name = NameOf(row);
    return ShownText(DisplayName(QByteArray(name.data(), static_cast<qsizetype>(name.size()))),
                     row.directory);
}

std::string_view FileListContents::NameOf(const Row& row) const {
    return std::string_view(names_).substr(row.name, row.nameLength);
}

QStringView FileListContents::KeyOf(const Row& row) const {
    return QStringView(keys_.data() + row.key, static_cast<qsizetype>(row.keyLength));
}
