// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/Volumes.h"

#include "platform/FileSystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <functional>
#include <map>
#include <sys/stat.h>
#include <sys/vfs.h>

namespace {

// mountinfo writes space, tab, newline and backslash as octal escapes.
QByteArray UnescapeOctal(const QByteArray& field) {
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const QByteArray digits = field.mid(i + 1, 3);
            bool ok = false;
            const int value = digits.toInt(&ok, 8);
            if (ok && digits.size() == 3) {
                out.append(static_cast<char>(value));
                i += 3;
                continue;
            }
        }
        out.append(field[i]);
    }
    return out;
}

const QSet<QString>& NetworkTypes() {
    static const QSet<QString> types = {
        QStringLiteral("nfs"),        QStringLiteral("nfs4"),        QStringLiteral("cifs"),
        QStringLiteral("smb3"),       QStringLiteral("smbfs"),       QStringLiteral("ncpfs"),
        QStringLiteral("afs"),        QStringLiteral("ceph"),        QStringLiteral("glusterfs"),
        QStringLiteral("fuse.sshfs"), QStringLiteral("fuse.rclone"), QStringLiteral("davfs"),
        QStringLiteral("fuse.davfs2")};
    return types;
}

bool IsOptical(const QString& type) {
    return type == QLatin1String("iso9660") || type == QLatin1String("udf");
}

bool UnderSystemTree(const QByteArray& mountPoint) {
    for (const char* tree : {"/boot", "/efi", "/proc", "/sys", "/dev", "/run/credentials"}) {
        const QByteArray prefix(tree);
        if (mountPoint == prefix || mountPoint.startsWith(prefix + '/'))
            return true;
    }
    return false;
}

bool UnderMediaTree(const QByteArray& mountPoint) {
    return mountPoint.startsWith("/media/") || mountPoint.startsWith("/run/media/");
}

// Labels in /dev/disk/by-label are escaped as \xNN.
QString UnescapeLabel(const QString& name) {
    QByteArray bytes = QFile::encodeName(name);
    QByteArray out;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\\' && i + 3 < bytes.size() && bytes[i + 1] == 'x') {
            bool ok = false;
            const int value = bytes.mid(i + 2, 2).toInt(&ok, 16);
            if (ok) {
                out.append(static_cast<char>(value));
                i += 3;
                continue;
            }
        }
        out.append(bytes[i]);
    }
    return QString::fromUtf8(out);
}

QString SystemLabelOf(const QByteArray& device) {
    static const QDir byLabel(QStringLiteral("/dev/disk/by-label"));
    const QString target = QFileInfo(QFile::decodeName(device)).canonicalFilePath();
    if (target.isEmpty())
        return {};
    for (const QFileInfo& link : byLabel.entryInfoList(QDir::System | QDir::Files)) {
        if (link.canonicalFilePath() == target)
            return UnescapeLabel(link.fileName());
    }
    return {};
}

bool SystemIsRemovable(const QByteArray& device) {
    // /dev/sdb1 -> /sys/class/block/sdb1/../removable, or the disk's own flag.
    const QString name =
        QFileInfo(QFileInfo(QFile::decodeName(device)).canonicalFilePath()).fileName();
    if (name.isEmpty())
        return false;
    for (const QString& path : {QStringLiteral("/sys/class/block/%1/removable").arg(name),
                                QStringLiteral("/sys/class/block/%1/../removable").arg(name)}) {
        QFile flag(path);
        if (flag.open(QIODevice::ReadOnly))
            return flag.readAll().trimmed() == "1";
    }
    return false;
}

bool SystemIsDirectory(const QByteArray& path) {
    struct stat info {};
    return stat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace

QString Volume::DisplayText() const {
    // The selector is narrow: a volume goes by its mount point's last component.
    const int slash = MountPoint.lastIndexOf('/', MountPoint.size() - 2);
    const QString name =
        MountPoint == "/" ? QStringLiteral("/") : DisplayName(MountPoint.mid(slash + 1));
    const QString bracketed = QStringLiteral("[%1]").arg(Label);
    switch (Kind) {
    case VolumeKind::Removable:
        return Label.isEmpty() ? name : Label;
    case VolumeKind::Network:
        return QStringLiteral("%1: %2").arg(name, RemoteName.isEmpty() ? bracketed : RemoteName);
    case VolumeKind::Fixed:
    case VolumeKind::Optical:
        break;
    }
    return QStringLiteral("%1: %2").arg(name, bracketed);
}

bool Volume::Holds(const QByteArray& path) const {
    if (MountPoint == "/")
        return path.startsWith('/');
    return path == MountPoint || path.startsWith(MountPoint + '/');
}

std::vector<Volume> ParseMountInfo(const QByteArray& mountInfo) {
    std::vector<Volume> volumes;
    // Each device's mounts of its whole tree (or of a subvolume), by major:minor.
    std::map<QByteArray, std::vector<QByteArray>> treesOf;
    for (const QByteArray& line : mountInfo.split('\n')) {
        // id parent major:minor root mount-point options [optional...] - type source super
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype dash = fields.indexOf("-");
        if (fields.size() < 7 || dash < 6 || dash + 2 >= fields.size())
            continue;
        Volume volume;
        volume.MountPoint = UnescapeOctal(fields[4]);
        volume.FileSystemType = QString::fromUtf8(fields[dash + 1]);
        const QByteArray source = UnescapeOctal(fields[dash + 2]);
        const bool isRoot = volume.MountPoint == "/";
        const QByteArray tree = UnescapeOctal(fields[3]);
        // A folder of a device bound elsewhere is not a volume of its own.
        std::vector<QByteArray>& trees = treesOf[fields[2]];
        const bool bound = std::any_of(trees.begin(), trees.end(), [&](const QByteArray& t) {
            return tree != t && (t == "/" || tree.startsWith(t + '/'));
        });
        trees.push_back(tree);
        if (!isRoot && bound)
            continue;
        // The desktop's own network places (gvfs) are reached through one folder.
        const bool desktopShares = volume.FileSystemType == QLatin1String("fuse.gvfsd-fuse");
        const bool network = desktopShares || NetworkTypes().contains(volume.FileSystemType);
        const bool device =
            source.startsWith("/dev/") && volume.FileSystemType != QLatin1String("squashfs");
        if (!isRoot && ((!network && !device) || UnderSystemTree(volume.MountPoint)))
            continue;
        if (network) {
            volume.Kind = VolumeKind::Network;
            volume.RemoteName = desktopShares ? QString() : QString::fromUtf8(source);
        } else {
            volume.Device = device ? source : QByteArray();
            if (IsOptical(volume.FileSystemType))
                volume.Kind = VolumeKind::Optical;
            else if (device && UnderMediaTree(volume.MountPoint))
                volume.Kind = VolumeKind::Removable;
        }
        // A later mount on the same point hides the earlier one.
        auto same = std::find_if(volumes.begin(), volumes.end(), [&](const Volume& v) {
            return v.MountPoint == volume.MountPoint;
        });
        if (same != volumes.end())
            *same = volume;
        else
            volumes.push_back(volume);
    }
    if (std::none_of(volumes.begin(), volumes.end(),
                     [](const Volume& v) { return v.MountPoint == "/"; })) {
        Volume root;
        root.MountPoint = "/";
        volumes.push_back(root);
    }
    std::sort(volumes.begin(), volumes.end(),
              [](const Volume& a, const Volume& b) { return a.MountPoint < b.MountPoint; });
    return volumes;
}

namespace {
std::function<std::vector<Volume>()>& Lister() {
    static std::function<std::vector<Volume>()> lister;
    return lister;
}
} // namespace

void SetVolumeLister(std::function<std::vector<Volume>()> lister) {
    Lister() = std::move(lister);
}

std::vector<Volume> ListVolumes() {
    if (Lister())
        return Lister()();
    QFile file(QStringLiteral("/proc/self/mountinfo"));
    QByteArray text;
    if (file.open(QIODevice::ReadOnly))
        text = file.readAll();
    return ParseMountInfo(text);
}

VolumeDetails LearnVolumeDetails(const Volume& volume) {
    VolumeDetails details;
    details.IsFolder = volume.MountPoint == "/" || SystemIsDirectory(volume.MountPoint);
    if (!volume.Device.isEmpty()) {
        details.Label = SystemLabelOf(volume.Device);
        details.Removable = SystemIsRemovable(volume.Device);
    }
    return details;
}

bool VolumeDetailsWanted() {
    return !Lister();
}

void ApplyVolumeDetails(Volume& volume, const VolumeDetails& details) {
    if (volume.Device.isEmpty())
        return;
    volume.Label = details.Label;
    if (details.Removable && volume.Kind == VolumeKind::Fixed)
        volume.Kind = VolumeKind::Removable;
}

int VolumeHolding(const std::vector<Volume>& volumes, const QByteArray& path) {
    int best = -1;
    for (std::size_t i = 0; i < volumes.size(); ++i) {
        if (volumes[i].Holds(path) &&
            (best < 0 || volumes[i].MountPoint.size() > volumes[best].MountPoint.size()))
            best = static_cast<int>(i);
    }
    return best;
}

bool FolderDistinguishesCase(const QByteArray& folder) {
    constexpr long kMsdosMagic = 0x4d44;
    constexpr long kExfatMagic = 0x2011BAB0;
    constexpr long kIsoMagic = 0x9660;
    struct statfs info {};
    if (statfs(folder.constData(), &info) != 0)
        return true;
    const long type = static_cast<long>(info.f_type);
    return type != kMsdosMagic && type != kExfatMagic && type != kIsoMagic;
}

bool SameFolderName(const QByteArray& a, const QByteArray& b, bool distinguishesCase) {
    if (a == b)
        return true;
    if (distinguishesCase)
        return false;
    return QString::fromUtf8(a).compare(QString::fromUtf8(b), Qt::CaseInsensitive) == 0;
}

namespace {
std::map<QByteArray, QByteArray>& FolderMap() {
    static std::map<QByteArray, QByteArray> folders;
    return folders;
}
} // namespace

QByteArray VolumeFolders::FolderOf(const QByteArray& mountPoint) {
    const auto found = FolderMap().find(mountPoint);
    return found == FolderMap().end() ? mountPoint : found->second;
}

void VolumeFolders::Remember(const QByteArray& mountPoint, const QByteArray& folder) {
    FolderMap()[mountPoint] = folder;
}
