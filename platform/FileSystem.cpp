#include "platform/FileSystem.h"

#include "platform/Volumes.h"

#include <QString>

#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
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

} // namespace

bool VisitDirectory(const QByteArray& folder, const NameFilter& filter, bool wantReadOnly,
                    const EntryVisitor& visit) {
    DirHandle dir(opendir(folder.isEmpty() ? "." : folder.constData()));
    if (!dir)
        return false;
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
    std::unique_ptr<char, decltype(&free)> path(getcwd(nullptr, 0), &free);
    return path ? QByteArray(path.get()) : QByteArray();
}

int ChangeDirectory(const QByteArray& path) {
    return chdir(path.constData()) == 0 ? 0 : errno;
}

QByteArray AbsolutePath(const QByteArray& path) {
    QByteArray joined = path.startsWith('/') ? path : CurrentDirectory() + '/' + path;
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
