// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Drives.h"

#include <gtest/gtest.h>

using namespace kestrom::platform;
using Drives = std::vector<std::string>;

// A mount table with a run-time tmpfs and a disk outside the media folders (both
// left out), a USB stick with a blank in its label, and a card mounted twice;
// then a malformed table.
TEST(Drives, RootThenHomeThenRealMediaMountsSorted) {
    constexpr std::string_view kMountInfo =
        "27 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda1 rw\n"
        "31 27 0:26 / /mnt/scratch rw - tmpfs tmpfs rw,size=4k\n"
        "36 27 8:49 / /run/media/aki/CARD rw shared:54 - exfat /dev/sdd1 rw\n"
        "37 36 8:49 / /run/media/aki/CARD rw shared:55 - exfat /dev/sdd1 rw\n"
        "32 27 8:17 / /media/aki/MY\\040MUSIC rw,nosuid shared:50 - vfat /dev/sdb1 rw\n"
        "33 27 8:33 / /mnt/backup rw,relatime shared:51 - ext4 /dev/sdc1 rw\n"
        "38 27 8:2 / /boot rw,relatime shared:56 - ext4 /dev/vda2 rw\n";
    EXPECT_EQ(
        drivesFromMountInfo(kMountInfo, "/home/aki"),
        (Drives{"/", "/home/aki", "/media/aki/MY MUSIC", "/mnt/backup", "/run/media/aki/CARD"}));
    EXPECT_EQ(drivesFromMountInfo(kMountInfo, "/mnt/backup").size(), 4u);  // home listed once
    EXPECT_EQ(drivesFromMountInfo("garbage\n1 2 3\n41 27 8:1 / /media/y rw -\n", "/root"),
              (Drives{"/", "/root"}));
}

TEST(Drives, PathBelongsToItsLongestDriveByWholeComponents) {
    const Drives drives{"/", "/home/aki", "/media/aki/MY MUSIC", "/media/aki/MY MUSIC 2"};
    std::vector<std::optional<std::size_t>> found;
    for (const char* path :
         {"/usr/share", "/home/aki/デスクトップ", "/home/akira", "/media/aki/MY MUSIC/J-POP",
          "/media/aki/MY MUSIC 2/J-POP", "home/aki"})
        found.push_back(driveOf(drives, path));
    EXPECT_EQ(found, (std::vector<std::optional<std::size_t>>{0, 1, 0, 2, 3, std::nullopt}));
}
