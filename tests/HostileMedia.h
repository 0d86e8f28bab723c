// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// Damaged and hostile media made from the valid test clips, the same bytes on
// every run: each case is a file name and its content.

#include <QByteArray>
#include <QString>

#include <vector>

struct HostileCase {
    QString Name; // with the extension of the clip it came from
    QByteArray Content;
};

// The groups of cases, each small enough to run within one test's time.
std::vector<QString> HostileGroups();
// The cases of one group; clipsFolder holds the valid clips.
std::vector<HostileCase> HostileCases(const QString& group, const QString& clipsFolder);
