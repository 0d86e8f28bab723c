// SPDX-License-Identifier: GPL-3.0-or-later

#include "tests/HostileMedia.h"

#include <QFile>
#include <QFileInfo>

#include <cstdint>
#include <random>
#include <stdexcept>

namespace {

constexpr int kFlipCasesPerClip = 13;

QByteArray Read(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("missing test clip " + path.toStdString());
    return file.readAll();
}

QString Extension(const QString& clip) {
    return QFileInfo(clip).suffix();
}

std::uint32_t SeedOf(const QString& text) {
    std::uint32_t hash = 2166136261u; // FNV-1a, stable across runs and machines
    for (const QChar c : text) {
        hash ^= c.unicode();
        hash *= 16777619u;
    }
    return hash;
}

QByteArray FlipBits(QByteArray bytes, qsizetype from, qsizetype to, int flips, std::uint32_t seed) {
    std::mt19937 random(seed);
    to = std::min(to, bytes.size());
    if (to <= from)
        return bytes;
    std::uniform_int_distribution<qsizetype> where(from, to - 1);
    for (int i = 0; i < flips; ++i)
        bytes[where(random)] ^= static_cast<char>(1u << (random() % 8));
    return bytes;
}

void PutLittleEndian(QByteArray& bytes, qsizetype at, std::uint64_t value, int size) {
    for (int i = 0; i < size && at + i < bytes.size(); ++i)
        bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// Every MPEG sequence header declares the picture as 4095 x 4095, or as 0 x 0.
QByteArray MpegPictureSize(QByteArray bytes, bool huge) {
    const QByteArray header("\x00\x00\x01\xB3", 4);
    for (qsizetype at = bytes.indexOf(header); at >= 0 && at + 7 < bytes.size();
         at = bytes.indexOf(header, at + 4)) {
        const unsigned char aspectAndRate = static_cast<unsigned char>(bytes[at + 7]);
        bytes[at + 4] = huge ? '\xFF' : '\x00';
        bytes[at + 5] = huge ? '\xFF' : '\x00';
        bytes[at + 6] = huge ? '\xFF' : '\x00';
        bytes[at + 7] = static_cast<char>(aspectAndRate);
    }
    return bytes;
}

// The ASF file properties declare an absurd size, packet count and duration.
QByteArray AsfLength(QByteArray bytes) {
    const QByteArray fileProperties(
        "\xA1\xDC\xAB\x8C\x47\xA9\xCF\x11\x8E\xE4\x00\xC0\x0C\x20\x53\x65", 16);
    const qsizetype at = bytes.indexOf(fileProperties);
    if (at < 0)
        throw std::runtime_error("no ASF file properties in the clip");
    const qsizetype fields = at + 16 + 8 + 16; // after the id, the size and the file id
    PutLittleEndian(bytes, fields, 0x7FFFFFFFFFFFFFFFull, 8);      // file size
    PutLittleEndian(bytes, fields + 16, 0xFFFFFFFFFFFFFFFFull, 8); // data packets
    PutLittleEndian(bytes, fields + 24, 0x7FFFFFFFFFFFFFFFull, 8); // play duration
    PutLittleEndian(bytes, fields + 32, 0x7FFFFFFFFFFFFFFFull, 8); // send duration
    return bytes;
}

// The ASF video stream declares a picture of 2^31 - 1 square.
QByteArray AsfPictureSize(QByteArray bytes) {
    const QByteArray streamProperties(
        "\x91\x07\xDC\xB7\xB7\xA9\xCF\x11\x8E\xE6\x00\xC0\x0C\x20\x53\x65", 16);
    const QByteArray videoMedia("\xC0\xEF\x19\xBC\x4D\x5B\xCF\x11\xA8\xFD\x00\x80\x5F\x5C\x44\x2B",
                                16);
    for (qsizetype at = bytes.indexOf(streamProperties); at >= 0;
         at = bytes.indexOf(streamProperties, at + 16)) {
        if (bytes.mid(at + 24, 16) != videoMedia)
            continue;
        const qsizetype typeData = at + 16 + 8 + 16 + 16 + 8 + 4 + 4 + 2 + 4;
        PutLittleEndian(bytes, typeData, 0x7FFFFFFF, 4);          // encoded width
        PutLittleEndian(bytes, typeData + 4, 0x7FFFFFFF, 4);      // encoded height
        PutLittleEndian(bytes, typeData + 11 + 4, 0x7FFFFFFF, 4); // bitmap width
        PutLittleEndian(bytes, typeData + 11 + 8, 0x7FFFFFFF, 4); // bitmap height
        return bytes;
    }
    throw std::runtime_error("no ASF video stream properties in the clip");
}

// The valid clips the cases come from, one per listed extension.
const std::vector<QString>& HostileSourceClips() {
    static const std::vector<QString> clips = {"bars.mpg", "bars.mpeg", "bars.wmv", "bars.asf"};
    return clips;
}

} // namespace

std::vector<QString> HostileGroups() {
    std::vector<QString> groups = {"empty-and-random", "truncated", "absurd-declarations"};
    for (const QString& clip : HostileSourceClips())
        groups.push_back("bit-flips-" + Extension(clip));
    return groups;
}

std::vector<HostileCase> HostileCases(const QString& group, const QString& clipsFolder) {
    std::vector<HostileCase> cases;
    for (const QString& clip : HostileSourceClips()) {
        const QString extension = Extension(clip);
        const QByteArray valid = Read(clipsFolder + '/' + clip);
        if (group == "empty-and-random") {
            cases.push_back({"zero-bytes." + extension, {}});
            std::mt19937 random(SeedOf(clip));
            QByteArray noise(64 * 1024, '\0');
            for (char& byte : noise)
                byte = static_cast<char>(random());
            cases.push_back({"random-bytes." + extension, noise});
        } else if (group == "truncated") {
            for (const int percent : {1, 50, 99})
                cases.push_back({QStringLiteral("truncated-%1.%2").arg(percent).arg(extension),
                                 valid.left(valid.size() * percent / 100)});
        } else if (group == "absurd-declarations") {
            if (extension.startsWith(QLatin1String("mp"))) {
                cases.push_back({"huge-picture." + extension, MpegPictureSize(valid, true)});
                cases.push_back({"empty-picture." + extension, MpegPictureSize(valid, false)});
            } else {
                cases.push_back({"absurd-length." + extension, AsfLength(valid)});
                cases.push_back({"huge-picture." + extension, AsfPictureSize(valid)});
            }
        } else if (group == "bit-flips-" + extension) {
            // The header: a few flips in the first 4 KiB; the streams: many after it.
            for (int i = 0; i < kFlipCasesPerClip; ++i) {
                const QString header = QStringLiteral("header-flips-%1.%2").arg(i).arg(extension);
                cases.push_back({header, FlipBits(valid, 0, 4096, 1 + i % 4, SeedOf(header))});
                const QString stream = QStringLiteral("stream-flips-%1.%2").arg(i).arg(extension);
                cases.push_back(
                    {stream, FlipBits(valid, 4096, valid.size(), 16 << (i % 4), SeedOf(stream))});
            }
        }
    }
    return cases;
}
