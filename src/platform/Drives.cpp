// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Drives.h"

#include <algorithm>
#include <array>
#include <iterator>

#include "platform/FileOps.h"

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

// True when folder is path or one of its ancestors.
bool holds(std::string_view folder, std::string_view path) {
    if (folder == "/") return !path.empty() && path.front() == '/';
    if (path.substr(0, folder.size()) != folder) return false;
    return path.size() == folder.size() || path[folder.size()] == '/';
}

bool isOctal(char c) {
    return c >= '0' && c <= '7';
}

// mountinfo writes space, tab, newline and backslash in paths as \ooo.
std::string unescape(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && isOctal(field[i + 1]) &&
            isOctal(field[i + 2]) && isOctal(field[i + 3])) {
            const int value =
                (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
            out.push_back(static_cast<char>(value));
            i += 3;
        } else {
            out.push_back(field[i]);
        }
    }
    return out;
}

std::vector<std::string_view> splitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t pos = 0;
    while (pos < line.size()) {
        const std::size_t start = line.find_first_not_of(' ', pos);
        if (start == std::string_view::npos) break;
        const std::size_t end = std::min(line.find(' ', start), line.size());
        fields.push_back(line.substr(start, end - start));
        pos = end;
    }
    return fields;
}

// A line reads: id parent major:minor root mount-point options [optional...] - type source
// super-options. Gives the mount point and the file system type, or nothing for a malformed line.
std::optional<std::pair<std::string, std::string_view>> parseLine(std::string_view line) {
    const std::vector<std::string_view> fields = splitFields(line);
    if (fields.size() < 6) return std::nullopt;
    const auto dash = std::find(fields.begin() + 6, fields.end(), std::string_view("-"));
    if (dash == fields.end() || std::next(dash) == fields.end()) return std::nullopt;
    std::string mountPoint = unescape(fields[4]);
    if (mountPoint.empty() || mountPoint.front() != '/') return std::nullopt;
    return std::make_pair(std::move(mountPoint), *std::next(dash));
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
    std::size_t pos = 0;
    while (pos < mountInfo.size()) {
        std::size_t end = mountInfo.find('\n', pos);
        if (end == std::string_view::npos) end = mountInfo.size();
        const auto parsed = parseLine(mountInfo.substr(pos, end - pos));
        pos = end + 1;
        if (!parsed || isPseudo(parsed->second)) continue;
        const std::string& point = parsed->first;
        const bool inMediaFolder =
            std::any_of(kMediaFolders.begin(), kMediaFolders.end(),
                        [&](std::string_view folder) { return holds(folder, point); });
        if (inMediaFolder && point != homeFolder) media.push_back(point);
    }
    std::sort(media.begin(), media.end());
    media.erase(std::unique(media.begin(), media.end()), media.end());
    drives.insert(drives.end(), media.begin(), media.end());
    return drives;
}

std::vector<std::string> systemDrives(Posix& posix, std::string_view home) {
    std::string text;
    if (readFile(posix, "/proc/self/mountinfo", 16 << 20, text) != 0) text.clear();
    return drivesFromMountInfo(text, home);
}

std::optional<std::size_t> driveOf(const std::vector<std::string>& drives, std::string_view path) {
    std::optional<std::size_t> best;
    for (std::size_t i = 0; i < drives.size(); ++i) {
        if (holds(drives[i], path) && (!best || drives[i].size() > drives[*best].size())) best = i;
    }
    return best;
}

}  // namespace kestrom::platform
