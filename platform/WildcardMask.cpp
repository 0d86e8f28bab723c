#include "platform/WildcardMask.h"

#include <string>

namespace {

char FoldCase(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Iterative glob match with one backtracking point, linear in practice.
bool Matches(const QByteArray& pattern, const char* name, std::size_t length) {
    if (pattern == "*" || pattern == "*.*")
        return true;
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

} // namespace

WildcardMask::WildcardMask(const QString& mask) {
    for (const QString& part : mask.split(QLatin1Char(';'))) {
        const QString trimmed = part.trimmed();
        if (!trimmed.isEmpty())
            patterns_.push_back(trimmed.toUtf8());
    }
}

int WildcardMask::CountMatches(const char* name, std::size_t length) const {
    int count = 0;
    for (const QByteArray& pattern : patterns_)
        if (Matches(pattern, name, length))
            ++count;
    return count;
}
