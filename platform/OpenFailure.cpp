// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/OpenFailure.h"

#include <mpv/client.h>

#include <cstring>

namespace OpenFailure {

bool RefersToOthers(const QByteArray& head) {
    const QByteArray text = head.trimmed().toLower();
    for (const char* start : {"#extm3u", "[playlist]", "ffconcat", "<asx", "[reference]", "<?xml",
                              "<smil", "v=0", "file "})
        if (text.startsWith(start))
            return true;
    return text.contains("://") && !text.contains('\0');
}

bool KnownContainer(const QByteArray& head) {
    const auto at = [&](qsizetype offset, const char* bytes, qsizetype size) {
        return head.size() >= offset + size &&
               std::memcmp(head.constData() + offset, bytes, size) == 0;
    };
    return at(0, "\x30\x26\xB2\x75\x8E\x66\xCF\x11", 8) || // ASF
           at(0, "\x00\x00\x01\xBA", 4) ||                 // MPEG program stream
           at(0, "\x00\x00\x01\xB3", 4) ||                 // MPEG video
           (at(0, "\x47", 1) && at(188, "\x47", 1)) ||     // MPEG transport stream
           at(0, "RIFF", 4) || at(4, "ftyp", 4) || at(0, "\x1A\x45\xDF\xA3", 4) ||
           at(0, "OggS", 4) || at(0, "FLV", 3);
}

QString Classify(const Refusal& refusal, const QByteArray& head) {
    if (refusal.Redirected || RefersToOthers(head))
        return ReferencesText();
    for (const QString& line : refusal.Log) {
        if (line.contains(QLatin1String("whitelist")) ||
            line.contains(QLatin1String("access-references")) ||
            line.contains(QLatin1String("Not opening")))
            return ReferencesText();
    }
    if (refusal.Error == MPV_ERROR_UNKNOWN_FORMAT && !KnownContainer(head))
        return NotMediaText();
    return DamagedText();
}

} // namespace OpenFailure
