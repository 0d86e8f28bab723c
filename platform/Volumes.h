// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// What stands for drives on Linux: the mounted volumes a user browses.

#include <QByteArray>
#include <QString>

#include <functional>
#include <vector>

enum class VolumeKind { Fixed, Removable, Optical, Network };

struct Volume {
    QByteArray MountPoint; // the file system's bytes
    QString Label;         // the file system's label, if any
    QString RemoteName;    // for a network share: what it was mounted from
    QString FileSystemType;
    QByteArray Device; // for a volume of a device: its path in /dev
    VolumeKind Kind = VolumeKind::Fixed;

    // The text the drive selector shows for it.
    QString DisplayText() const;
    // Whether path lies on this volume's tree.
    bool Holds(const QByteArray& path) const;
};

// Parses the text of /proc/self/mountinfo into the volumes worth browsing: the
// root, real devices, removable media and network shares, sorted by mount point.
// Nothing is touched: labels and removability are learnt later.
std::vector<Volume> ParseMountInfo(const QByteArray& mountInfo);

// The volumes of this machine now, from the mount table alone: no volume is
// touched, so a share that does not answer is listed all the same.
std::vector<Volume> ListVolumes();

// What only the volume itself tells: whether its mount point is a folder, and a
// device's label and whether it is removable.
struct VolumeDetails {
    bool IsFolder = true;
    QString Label;
    bool Removable = false;
};
// May wait on the volume as long as it does not answer; runs on any thread.
VolumeDetails LearnVolumeDetails(const Volume& volume);
// Whether the details of the volumes ListVolumes gives are still to be learnt
// (not so for volumes a test describes).
bool VolumeDetailsWanted();
void ApplyVolumeDetails(Volume& volume, const VolumeDetails& details);

// Replaces where ListVolumes looks (tests describe their own volumes); an empty
// function goes back to the machine's mounts.
void SetVolumeLister(std::function<std::vector<Volume>()> lister);

// Index of the volume whose tree holds path most closely, or -1.
int VolumeHolding(const std::vector<Volume>& volumes, const QByteArray& path);

// Whether names in the folder's file system differ by letter case. It may wait
// on the file system.
bool FolderDistinguishesCase(const QByteArray& folder);
// Whether two absolute paths name the same folder, by the rule of the file system
// that holds them.
bool SameFolderName(const QByteArray& a, const QByteArray& b, bool distinguishesCase);

// The folder last shown on each volume, kept for the life of the process.
class VolumeFolders {
public:
    static QByteArray FolderOf(const QByteArray& mountPoint);
    static void Remember(const QByteArray& mountPoint, const QByteArray& folder);
};
