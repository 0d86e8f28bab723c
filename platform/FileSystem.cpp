// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/FileSystem.h"

#include "platform/Volumes.h"

#include <QString>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

int KindAttributes(int dirFd, const dirent* entry) {
    unsigned char type = entry->d_type;
    if (type == DT_LNK || type == DT_UNKNOWN) {
        struct stat info {};
        if (fstatat(dirFd, entry->d_name, &info, 0) != 0)
            return FileAttribute::System; // a broken link
        if (S_ISDIR(info.st_mode))
            return FileAttribute::Directory;
        if (S_ISREG(info.st_mode))
            return 0;
        return FileAttribute::System;
    }
    if (type == DT_DIR)
        return FileAttribute::Directory;
    if (type == DT_REG)
        return 0;
    return FileAttribute::System;
}

struct FdCloser {
    int fd = -1;
    ~FdCloser() {
        if (fd >= 0)
            ::close(fd);
    }
};

// Opens a folder, also one whose path is longer than the kernel takes at once:
// such a path is walked component by component.
int OpenFolder(const QByteArray& path, int flags) {
    if (path.size() < PATH_MAX || !path.startsWith('/'))
        return ::open(path.constData(), flags | O_DIRECTORY | O_CLOEXEC);
    FdCloser at{::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC)};
    for (const QByteArray& part : path.split('/')) {
        if (at.fd < 0)
            return -1;
        if (part.isEmpty())
            continue;
        const int next = ::openat(at.fd, part.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        ::close(at.fd);
        at.fd = next;
    }
    return at.fd < 0 ? -1 : ::openat(at.fd, ".", flags | O_DIRECTORY | O_CLOEXEC);
}

QByteArray CurrentPhysicalFolder() {
    std::unique_ptr<char, decltype(&free)> path(getcwd(nullptr, 0), &free);
    return path ? QByteArray(path.get()) : QByteArray("/");
}

// Where the program started, read before it leaves for the root.
struct StartFolder {
    QByteArray Physical;
    QByteArray Walked; // the shell's PWD
};

const StartFolder& Start() {
    static const StartFolder start{CurrentPhysicalFolder(), qgetenv("PWD")};
    return start;
}

QByteArray& ShownFolder() {
    static QByteArray folder = [] {
        QByteArray initial = Start().Physical;
        // The process itself leaves for the root: no volume is held busy by it.
        if (::chdir("/") != 0)
            initial = CurrentPhysicalFolder();
        return initial;
    }();
    return folder;
}

// The decoder glibc offers for the names of older Japanese media.
QString FromCp932(const QByteArray& bytes, bool* clean) {
    *clean = false;
    const iconv_t cd = iconv_open("UTF-8", "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return {};
    QByteArray in = bytes;
    QByteArray out(bytes.size() * 3 + 4, '\0');
    char* inPtr = in.data();
    char* outPtr = out.data();
    std::size_t inLeft = static_cast<std::size_t>(in.size());
    std::size_t outLeft = static_cast<std::size_t>(out.size());
    const std::size_t done = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    if (done == static_cast<std::size_t>(-1) || inLeft != 0)
        return {};
    *clean = true;
    return QString::fromUtf8(out.constData(), out.size() - static_cast<qsizetype>(outLeft));
}

} // namespace

QString DisplayName(const QByteArray& name) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(name);
    if (!utf8.hasError())
        return text;
    bool clean = false;
    text = FromCp932(name, &clean);
    if (clean)
        return text;
    // Neither: keep every valid UTF-8 sequence and show each other byte.
    text.clear();
    qsizetype i = 0;
    while (i < name.size()) {
        const auto byte = static_cast<unsigned char>(name[i]);
        const int length = byte < 0x80           ? 1
                           : (byte >> 5) == 0x6  ? 2
                           : (byte >> 4) == 0xE  ? 3
                           : (byte >> 3) == 0x1E ? 4
                                                 : 0;
        if (length > 0 && i + length <= name.size()) {
            QStringDecoder one(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
            const QString piece = one.decode(name.mid(i, length));
            if (!one.hasError()) {
                text += piece;
                i += length;
                continue;
            }
        }
        text += QStringLiteral("\\x%1").arg(byte, 2, 16, QLatin1Char('0'));
        ++i;
    }
    return text;
}

bool VisitDirectory(const QByteArray& folder, const NameFilter& filter, bool wantReadOnly,
                    const EntryVisitor& visit) {
    const int fd = OpenFolder(folder.isEmpty() ? QByteArray(".") : folder, O_RDONLY);
    if (fd < 0)
        return false;
    DirHandle dir(fdopendir(fd));
    if (!dir) {
        ::close(fd);
        return false;
    }
    const int dirFd = dirfd(dir.get());
    while (const dirent* entry = readdir(dir.get())) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        const std::size_t length = std::char_traits<char>::length(name);
        if (filter && !filter(name, length))
            continue;
        int attributes = KindAttributes(dirFd, entry);
        if (name[0] == '.')
            attributes |= FileAttribute::Hidden;
        if (wantReadOnly && faccessat(dirFd, name, W_OK, AT_EACCESS) != 0)
            attributes |= FileAttribute::ReadOnly;
        visit(name, length, attributes);
    }
    return true;
}

std::optional<std::vector<ScannedEntry>>
ScanDirectory(const QByteArray& folder, const NameFilter& filter, bool wantReadOnly) {
    std::vector<ScannedEntry> entries;
    const bool read = VisitDirectory(
        folder, filter, wantReadOnly, [&](const char* name, std::size_t length, int attributes) {
            entries.push_back({QByteArray(name, static_cast<qsizetype>(length)), attributes});
        });
    if (!read)
        return std::nullopt;
    return entries;
}

QByteArray CurrentDirectory() {
    return ShownFolder();
}

QByteArray AsWalked(const QByteArray& folder) {
    const StartFolder& start = Start();
    if (folder != start.Physical || !start.Walked.startsWith('/') || start.Walked == folder)
        return folder;
    struct stat here {
    }, there{};
    if (::stat(folder.constData(), &here) == 0 && ::stat(start.Walked.constData(), &there) == 0 &&
        here.st_dev == there.st_dev && here.st_ino == there.st_ino)
        return start.Walked;
    return folder;
}

int ChangeDirectory(const QByteArray& path) {
    if (path.isEmpty())
        return ENOENT;
    const QByteArray target = AbsolutePath(path);
    if (const int error = CheckFolder(target))
        return error;
    SetCurrentDirectory(target);
    return 0;
}

int CheckFolder(const QByteArray& absolutePath) {
    FdCloser folder{OpenFolder(absolutePath, O_PATH)};
    if (folder.fd < 0)
        return errno;
    // Entering needs the search right, as changing into it would.
    if (::faccessat(folder.fd, ".", X_OK, AT_EACCESS) != 0)
        return errno;
    return 0;
}

void SetCurrentDirectory(const QByteArray& absolutePath) {
    ShownFolder() = absolutePath;
}

QByteArray AbsolutePath(const QByteArray& path) {
    const QByteArray joined = path.startsWith('/') ? path : CurrentDirectory() + '/' + path;
    QList<QByteArray> parts;
    for (const QByteArray& part : joined.split('/')) {
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..") {
            if (!parts.isEmpty())
                parts.removeLast();
            continue;
        }
        parts.append(part);
    }
    QByteArray result;
    for (const QByteArray& part : parts)
        result += '/' + part;
    return result.isEmpty() ? QByteArray("/") : result;
}

std::optional<int> FileAttributes(const QByteArray& path) {
    struct stat status {};
    if (::stat(path.constData(), &status) != 0)
        return std::nullopt;
    int attributes = 0;
    if (S_ISDIR(status.st_mode))
        attributes |= FileAttribute::Directory;
    else if (!S_ISREG(status.st_mode))
        attributes |= FileAttribute::System;
    if (::access(path.constData(), W_OK) != 0)
        attributes |= FileAttribute::ReadOnly;
    const int slash = path.lastIndexOf('/');
    if (path.mid(slash + 1).startsWith('.'))
        attributes |= FileAttribute::Hidden;
    return attributes;
}

std::optional<QByteArray> StoredEntryName(const QByteArray& path) {
    const int slash = path.lastIndexOf('/');
    const QByteArray name = path.mid(slash + 1);
    struct stat wanted {};
    if (name.isEmpty() || ::lstat(path.constData(), &wanted) != 0)
        return std::nullopt;
    const QByteArray folder = slash > 0 ? path.left(slash) : slash == 0 ? QByteArray("/") : ".";
    if (FolderDistinguishesCase(folder))
        return name;
    // Only a volume that ignores case may store another spelling: find the entry
    // that is the same file.
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.constData()), ::closedir);
    if (!dir)
        return name;
    const QString decodedName = QString::fromUtf8(name);
    std::optional<QByteArray> sameFile;
    while (const dirent* entry = ::readdir(dir.get())) {
        const QByteArray candidate(entry->d_name);
        if (candidate == name)
            return name;
        if (sameFile || QString::fromUtf8(candidate).compare(decodedName, Qt::CaseInsensitive) != 0)
            continue;
        struct stat status {};
        const QByteArray candidatePath = folder + '/' + candidate;
        if (::lstat(candidatePath.constData(), &status) == 0 && status.st_dev == wanted.st_dev &&
            status.st_ino == wanted.st_ino)
            sameFile = candidate;
    }
    return sameFile ? sameFile : name;
}
