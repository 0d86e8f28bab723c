// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/Volumes.h"

#include <gtest/gtest.h>

namespace {

const QByteArray kMountInfo =
    "22 27 0:21 / /proc rw,relatime - proc proc rw\n"
    "23 27 0:22 / /sys rw,relatime - sysfs sysfs rw\n"
    "26 24 0:24 / /dev/pts rw,relatime - devpts devpts rw,mode=600\n"
    "41 31 0:38 / /sys/fs/cgroup/unified rw,relatime - cgroup2 cgroup2 rw\n"
    "27 1 254:0 / / rw,relatime - ext4 /dev/sda1 rw\n"
    "30 27 0:40 / /tmp rw shared:5 - tmpfs tmpfs rw\n"
    "31 27 8:2 / /home rw shared:7 master:1 - ext4 /dev/sda2 rw\n"
    "32 27 8:1 / /boot/efi rw - vfat /dev/sda3 rw\n"
    "33 27 8:17 / /run/media/me/USB\\040STICK rw - vfat /dev/sdb1 rw\n"
    "34 27 0:50 / /mnt/share rw - nfs4 server:/export/films rw\n"
    "35 27 254:0 /etc/hosts /etc/hosts rw - ext4 /dev/sda1 rw\n"
    "36 27 7:0 / /snap/core/1 ro - squashfs /dev/loop0 ro\n"
    "37 27 11:0 / /media/cdrom ro - iso9660 /dev/sr0 ro\n"
    "38 27 8:2 /me/Videos /srv/videos rw - ext4 /dev/sda2 rw\n"
    "39 27 0:60 / /run/user/1000/gvfs rw - fuse.gvfsd-fuse gvfsd-fuse rw\n"
    "40 27 0:61 / /var/lib/docker/overlay2/x/merged rw - overlay overlay rw\n"
    "41 27 0:62 / /run/user/1000/doc rw - fuse.portal portal rw\n"
    "42 27 8:33 / /media/alice/MYST rw - exfat /dev/sdc1 rw\n"
    "garbage line\n";

} // namespace

TEST(Volumes, KeepsRootDevicesMediaAndSharesAndSkipsPseudoFileSystems) {
    const std::vector<Volume> volumes = ParseMountInfo(kMountInfo);
    std::vector<QByteArray> points;
    for (const Volume& volume : volumes)
        points.push_back(volume.MountPoint);
    const std::vector<QByteArray> expected = {"/",
                                              "/home",
                                              "/media/alice/MYST",
                                              "/media/cdrom",
                                              "/mnt/share",
                                              "/run/media/me/USB STICK",
                                              "/run/user/1000/gvfs"};
    EXPECT_EQ(points, expected);
}

TEST(Volumes, DescribesEachKindInTheDriveSelectorsForms) {
    std::vector<Volume> volumes = ParseMountInfo(kMountInfo);
    ASSERT_EQ(volumes.size(), 7u);
    // The selector is 122 pixels wide: each goes by what a user recognises.
    EXPECT_EQ(volumes[0].DisplayText(), QStringLiteral("/: []"));
    EXPECT_EQ(volumes[1].DisplayText(), QStringLiteral("home: []"));
    ApplyVolumeDetails(volumes[1], {true, QStringLiteral("data disk"), false});
    EXPECT_EQ(volumes[1].DisplayText(), QStringLiteral("home: [data disk]"));
    EXPECT_EQ(volumes[2].Kind, VolumeKind::Removable);
    EXPECT_EQ(volumes[2].DisplayText(), QStringLiteral("MYST"));
    EXPECT_EQ(volumes[6].Kind, VolumeKind::Network);
    volumes.erase(volumes.begin() + 2);
    EXPECT_EQ(volumes[2].Kind, VolumeKind::Optical);
    EXPECT_EQ(volumes[3].Kind, VolumeKind::Network);
    EXPECT_EQ(volumes[3].DisplayText(), QStringLiteral("share: server:/export/films"));
    EXPECT_EQ(volumes[4].Kind, VolumeKind::Removable);
    EXPECT_EQ(volumes[4].DisplayText(), QStringLiteral("USB STICK"));
    Volume labelled = volumes[4];
    labelled.Label = QStringLiteral("MYSTICK");
    EXPECT_EQ(labelled.DisplayText(), QStringLiteral("MYSTICK"));
}

TEST(Volumes, AlwaysHasARootAndALaterMountHidesAnEarlierOne) {
    const std::vector<Volume> none = ParseMountInfo("");
    ASSERT_EQ(none.size(), 1u);
    EXPECT_EQ(none[0].MountPoint, QByteArray("/"));

    const std::vector<Volume> stacked =
        ParseMountInfo("31 27 8:2 / /data rw - ext4 /dev/sda2 rw\n"
                       "32 27 8:17 / /data rw - vfat /dev/sdb1 rw\n");
    ASSERT_EQ(stacked.size(), 2u);
    EXPECT_EQ(stacked[1].FileSystemType, QStringLiteral("vfat"));
}

TEST(Volumes, TheVolumeHoldingAPathIsTheLongestMountPointAboveIt) {
    const std::vector<Volume> volumes = ParseMountInfo(kMountInfo);
    EXPECT_EQ(volumes[VolumeHolding(volumes, "/home/me/Videos")].MountPoint, QByteArray("/home"));
    EXPECT_EQ(volumes[VolumeHolding(volumes, "/home")].MountPoint, QByteArray("/home"));
    EXPECT_EQ(volumes[VolumeHolding(volumes, "/homework")].MountPoint, QByteArray("/"));
    EXPECT_EQ(volumes[VolumeHolding(volumes, "/")].MountPoint, QByteArray("/"));
    EXPECT_EQ(VolumeHolding(volumes, "relative"), -1);
}

TEST(Volumes, EachVolumeRemembersItsOwnFolder) {
    EXPECT_EQ(VolumeFolders::FolderOf("/never/shown"), QByteArray("/never/shown"));
    VolumeFolders::Remember("/home", "/home/me/Videos");
    VolumeFolders::Remember("/", "/srv");
    EXPECT_EQ(VolumeFolders::FolderOf("/home"), QByteArray("/home/me/Videos"));
    EXPECT_EQ(VolumeFolders::FolderOf("/"), QByteArray("/srv"));
}

TEST(Volumes, TheMachinesOwnMountsIncludeTheRoot) {
    const std::vector<Volume> volumes = ListVolumes();
    EXPECT_GE(VolumeHolding(volumes, "/"), 0);
}
