// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// The sentences a failed open gives, one per kind of failure that a user acts on
// differently, and the choice among them from what the engine said and the
// file's first bytes.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace OpenFailure {

inline QString NotMediaText() {
    return QStringLiteral("The file is not a media file that this player knows.");
}
inline QString DamagedText() {
    return QStringLiteral("The file is damaged and cannot be played.");
}
inline QString UnreadableText(const QString& reason) {
    return QStringLiteral("The file could not be read: %1.").arg(reason);
}
inline QString FolderText() {
    return QStringLiteral("This is a folder, not a media file.");
}
inline QString TooLongText() {
    return QStringLiteral("The file took too long to open.");
}
inline QString NoSoundText() {
    return QStringLiteral("The sound device did not answer.");
}
inline QString ReferencesText() {
    return QStringLiteral(
        "The file refers to other files or addresses, and this player plays only media files.");
}

// What the engine said of an open it refused.
struct Refusal {
    bool Redirected = false; // it gave a list of other entries instead
    int Error = 0;           // its code for the failure
    QStringList Log;         // its words
};

// A list of other files or addresses: a playlist, a manifest, a reference or
// session description, or a concat list.
bool RefersToOthers(const QByteArray& head);
// Begins as a container the engine knows, so it is one, damaged.
bool KnownContainer(const QByteArray& head);
QString Classify(const Refusal& refusal, const QByteArray& head);

} // namespace OpenFailure
