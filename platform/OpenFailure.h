// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// The sentences a failed open gives, one per kind of failure that a user acts on
// differently, and the choice among them from what the engine said and the
// file's first bytes.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace OpenFailure {

QString NotMediaText();
QString DamagedText();
QString UnreadableText(const QString& reason);
QString FolderText();
QString TooLongText();
QString NoSoundText();
QString ReferencesText();

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
