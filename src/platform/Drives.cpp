// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Drives.h"

#include <algorithm>
#include <array>

#include "platform/MountTable.h"

namespace kestrom::platform {

namespace {

// Kernel and run-time file systems that hold nothing a user would pick a music
// folder from. Anything not named here (ext4, vfat, exfat, ntfs3, btrfs, nfs,
// cifs, fuse.*...) counts as real.
constexpr std::array<std::string_view, 24> kPseudoTypes = {
    "autofs",     "binfmt_misc", "bpf",      "cgroup",   "cgroup2", "configfs",
    "debugfs",    "devpts",      "devtmpfs", "efivarfs", "fusectl", "hugetlbfs",
    "mqueue",     "nsfs",        "proc",     "pstore",   "ramfs",   "rpc_pipefs",
    "securityfs", "selinuxfs",   "sysfs",    "tmpfs",    "tracefs", "fuse.gvfsd-fuse",
};

// Mount points listed beside the root and the home folder: where desktops mount
// removable media and where people mount disks by hand.
constexpr std::array<std::string_view, 3> kMediaFolders = {"/media", "/mnt", "/run/media"};

bool isPseudo(std::string_view type) {
    return std::find(kPseudoTypes.begin(), kPseudoTypes.end(), type) != kPseudoTypes.end();
}

std::string withoutTrailingSlashes(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    return std::string(path);
}

}  // namespace

std::vector<std::string> drivesFromMountInfo(std::string_view mountInfo, std::string_view home) {
    std::vector<std::string> drives{"/"};
    const std::string homeFolder = withoutTrailingSlashes(home);
    if (homeFolder.size() > 1 && homeFolder.front() == '/') drives.push_back(homeFolder);

    std::vector<std::string> media;
    for (const Mount& mount : parseMountInfo(mountInfo)) {
        if (isPseudo(mount.type)) continue;
        const bool inMediaFolder =
            std::any_of(kMediaFolders.begin(), kMediaFolders.end(),
                        [&](std::string_view folder) { return pathHolds(folder, mount.point); });
        if (inMediaFolder && mount.point != homeFolder) media.push_back(mount.point);
    }
    std::sort(media.begin(), media.end());
    media.erase(std::unique(media.begin(), media.end()), media.end());
    drives.insert(drives.end(), media.begin(), media.end());
    return drives;
}

std::optional<std::size_t> driveOf(const std::vector<std::string>& drives, std::string_view path) {
    std::optional<std::size_t> best;
    for (std::size_t i = 0; i < drives.size(); ++i) {
        if (pathHolds(drives[i], path) && (!best || drives[i].size() > drives[*best].size()))
            best = i;
    }
    return best;
}

}  // namespace kestrom::platform
