// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <vector>

// A list of file-name patterns separated by ";", matched as the file dialogs of
// most desktops do: "*" any run, "?" any one byte, letters without regard to case.
class WildcardMask {
public:
    explicit WildcardMask(const QString& mask);

    // How many of the patterns match the name; a pattern named twice counts twice.
    int CountMatches(const char* name, std::size_t length) const;

private:
    struct Pattern {
        enum class Kind { Everything, Suffix, General };
        Kind kind;
        QByteArray text; // for a suffix, without its star
    };
    static bool Matches(const Pattern& pattern, const char* name, std::size_t length);

    std::vector<Pattern> patterns_;
};
