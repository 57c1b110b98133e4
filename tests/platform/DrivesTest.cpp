// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Drives.h"

#include <gtest/gtest.h>

using namespace kestrom::platform;
using Drives = std::vector<std::string>;

namespace {

// A desktop's mount table: kernel file systems, run-time tmpfs mounts, a USB
// stick with a blank in its label, a disk mounted by hand, an automount point
// with its real file system over it, and a stick mounted twice.
constexpr std::string_view kMountInfo =
    "22 27 0:21 / /proc rw,relatime shared:13 - proc proc rw\n"
    "23 27 0:22 / /sys rw,relatime shared:2 - sysfs sysfs rw\n"
    "24 27 0:6 / /dev rw,relatime shared:3 - devtmpfs devtmpfs rw,size=1k\n"
    "27 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda1 rw\n"
    "28 27 0:25 / /run rw,nosuid shared:5 - tmpfs tmpfs rw,mode=755\n"
    "29 28 0:44 / /run/user/1000 rw shared:40 - tmpfs tmpfs rw,uid=1000\n"
    "30 29 0:45 / /run/user/1000/gvfs rw shared:41 - fuse.gvfsd-fuse gvfsd-fuse rw\n"
    "31 27 0:26 / /mnt/scratch rw - tmpfs tmpfs rw,size=4k\n"
    "32 27 8:17 / /media/aki/MY\\040MUSIC rw,nosuid shared:50 - vfat /dev/sdb1 rw\n"
    "33 27 8:33 / /mnt/backup rw,relatime shared:51 - ext4 /dev/sdc1 rw\n"
    "34 27 0:50 / /mnt/nas rw shared:52 - autofs systemd-1 rw\n"
    "35 34 0:51 / /mnt/nas rw shared:53 - cifs //nas/music rw\n"
    "36 27 8:49 / /run/media/aki/CARD rw shared:54 - exfat /dev/sdd1 rw\n"
    "37 36 8:49 / /run/media/aki/CARD rw shared:55 - exfat /dev/sdd1 rw\n"
    "38 27 8:2 / /boot rw,relatime shared:56 - ext4 /dev/vda2 rw\n"
    "39 27 0:52 / /home rw,relatime shared:57 - btrfs /dev/vda3 rw\n";

}  // namespace

TEST(Drives, RootThenHomeThenRealMediaMountsSorted) {
    EXPECT_EQ(drivesFromMountInfo(kMountInfo, "/home/aki"),
              (Drives{"/", "/home/aki", "/media/aki/MY MUSIC", "/mnt/backup", "/mnt/nas",
                      "/run/media/aki/CARD"}));
    EXPECT_EQ(drivesFromMountInfo(kMountInfo, "/mnt/backup").size(), 5u);  // home listed once
    EXPECT_EQ(drivesFromMountInfo("garbage\n1 2 3\n41 27 8:1 / /media/y rw -\n", "/root"),
              (Drives{"/", "/root"}));  // a malformed table
}

TEST(Drives, PathBelongsToItsLongestDriveByWholeComponents) {
    const Drives drives{"/", "/home/aki", "/media/aki/MY MUSIC", "/media/aki/MY MUSIC 2"};
    EXPECT_EQ(driveOf(drives, "/usr/share"), 0u);
    EXPECT_EQ(driveOf(drives, "/home/aki/デスクトップ"), 1u);
    EXPECT_EQ(driveOf(drives, "/home/akira"), 0u);
    EXPECT_EQ(driveOf(drives, "/media/aki/MY MUSIC/J-POP"), 2u);
    EXPECT_EQ(driveOf(drives, "/media/aki/MY MUSIC 2/J-POP"), 3u);
    EXPECT_EQ(driveOf(drives, "home/aki"), std::nullopt);
}
