// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/MountTable.h"

#include <gtest/gtest.h>

#include <tuple>
#include <utility>

using namespace kestrom::platform;

// A table in the kernel's order, which need not be the order of mounting (the
// root mount comes after mounts on it): a bind mount of a library subfolder, a
// folder of the root file system bound into another disk, a mount hidden by a
// later one over a folder above it, two mounts stacked on one point, and a
// blank written as \040.
TEST(MountTable, FoldersAreNamedByTheirFileSystemAndThePathInIt) {
    const std::vector<Mount> mounts = parseMountInfo(
        "22 27 8:1 /srv/music/new /srv/work rw,relatime shared:2 - ext4 /dev/sda1 rw\n"
        "27 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
        "30 27 8:17 / /data rw - ext4 /dev/sdb1 rw\n"
        "31 30 8:1 /home /data/home rw - ext4 /dev/sda1 rw\n"
        "32 27 0:40 / /mnt/hidden rw - tmpfs tmpfs rw\n"
        "33 27 8:33 / /mnt rw - ext4 /dev/sdc1 rw\n"
        "34 33 8:49 / /mnt/usb rw - vfat /dev/sdd1 rw\n"
        "35 34 8:65 / /mnt/usb rw - vfat /dev/sde1 rw\n"
        "36 27 8:1 /my\\040music /media/my\\040music rw - ext4 /dev/sda1 rw\n"
        "garbage\n37 27 8:1 / /bad rw -\n");
    ASSERT_EQ(mounts.size(), 9u);
    for (const auto& [path, device, inside] :
         {std::tuple{"/", "8:1", "/"},
          {"/srv/music/new/x", "8:1", "/srv/music/new/x"},
          {"/srv/work", "8:1", "/srv/music/new"},
          {"/srv/work/a/b", "8:1", "/srv/music/new/a/b"},
          {"/srv/workshop", "8:1", "/srv/workshop"},  // whole names: not under /srv/work
          {"/data/x", "8:17", "/x"},
          {"/data/home/u", "8:1", "/home/u"},
          {"/mnt/hidden/y", "8:33", "/hidden/y"},
          {"/mnt/usb/z", "8:65", "/z"},
          {"/media/my music/a", "8:1", "/my music/a"}})
        EXPECT_EQ(fileSystemPath(mounts, path), (FileSystemPath{device, inside})) << path;
    // The mount itself, with the type of its file system: the top one of a stack.
    for (const auto& [path, id] : {std::pair{"/mnt/usb/z", 35}, {"/mnt/hidden", 33}, {"/srv", 27}})
        EXPECT_EQ(mountShowing(mounts, path)->id, id) << path;
    // Without a root mount (a table that could not be read) nothing is named.
    EXPECT_EQ(fileSystemPath(parseMountInfo(""), "/srv"), std::nullopt);
    EXPECT_EQ(mountShowing({}, "/srv"), nullptr);
    EXPECT_EQ(fileSystemPath(std::vector<Mount>(mounts.begin(), mounts.begin() + 1), "/srv"),
              std::nullopt);
}
