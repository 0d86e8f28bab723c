// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/WildcardMask.h"

#include <string>

namespace {

char FoldCase(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Iterative glob match with one backtracking point, linear in practice.
bool GlobMatches(const QByteArray& pattern, const char* name, std::size_t length) {
    std::size_t p = 0, n = 0;
    std::size_t starP = std::string::npos, starN = 0;
    const std::size_t patternLength = static_cast<std::size_t>(pattern.size());
    while (n < length) {
        if (p < patternLength && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < patternLength &&
                   (pattern[p] == '?' || FoldCase(pattern[p]) == FoldCase(name[n]))) {
            ++p;
            ++n;
        } else if (starP != std::string::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < patternLength && pattern[p] == '*')
        ++p;
    return p == patternLength;
}

bool HasWildcard(QByteArrayView text) {
    return text.contains('*') || text.contains('?');
}

} // namespace

WildcardMask::WildcardMask(const QString& mask) {
    for (const QString& part : mask.split(QLatin1Char(';'))) {
        const QByteArray pattern = part.trimmed().toUtf8();
        if (pattern.isEmpty())
            continue;
        if (pattern == "*" || pattern == "*.*")
            patterns_.push_back({Pattern::Kind::Everything, {}});
        else if (pattern.startsWith('*') && !HasWildcard(QByteArrayView(pattern).sliced(1)))
            patterns_.push_back({Pattern::Kind::Suffix, pattern.sliced(1)});
        else
            patterns_.push_back({Pattern::Kind::General, pattern});
    }
}

// "*.mpg" and its like are the usual masks: a test of the name's tail is
// enough, where the general match would try the pattern at every position.
bool WildcardMask::Matches(const Pattern& pattern, const char* name, std::size_t length) {
    switch (pattern.kind) {
    case Pattern::Kind::Everything:
        return true;
    case Pattern::Kind::Suffix: {
        const std::size_t size = static_cast<std::size_t>(pattern.text.size());
        if (length < size)
            return false;
        const char* tail = name + (length - size);
        for (std::size_t i = 0; i < size; ++i)
            if (FoldCase(tail[i]) != FoldCase(pattern.text[i]))
                return false;
        return true;
    }
    case Pattern::Kind::General:
        break;
    }
    return GlobMatches(pattern.text, name, length);
}

int WildcardMask::CountMatches(const char* name, std::size_t length) const {
    int count = 0;
    for (const Pattern& pattern : patterns_)
        if (Matches(pattern, name, length))
            ++count;
    return count;
}
