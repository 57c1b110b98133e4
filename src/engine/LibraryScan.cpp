// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/LibraryScan.h"

#include <cerrno>
#include <set>
#include <unordered_set>
#include <utility>

#include "platform/Journal.h"
#include "platform/MountTable.h"

namespace kestrom::engine {
namespace {

using platform::DirEntry;
using platform::EntryKind;
using platform::ListedEntry;

// Where the listings' inode numbers can stand for the folders' own, so that a
// folder need not be looked at (stat) to be known by its device and inode.
// They can below a library root whose file system lists its folders' own inode
// numbers (see platform::listsOwnInodes), in every folder reached from the root
// by plain subfolders, except at a mount point, where a look shows another file
// system or another folder (a bind mount). Where the mount table cannot be read,
// every folder is looked at.
class ListedIdentity {
public:
    ListedIdentity(platform::Posix& posix, const std::string& rootText) {
        if (posix.realpath(rootText.c_str(), m_root) != 0) return;
        const std::vector<platform::Mount> mounts =
            platform::parseMountInfo(platform::readMountInfo(posix));
        const platform::Mount* shown = platform::mountShowing(mounts, m_root);
        if (shown == nullptr || !platform::listsOwnInodes(shown->type)) return;
        for (const platform::Mount& m : mounts)
            if (m.point != m_root && platform::pathHolds(m_root, m.point))
                m_mountPoints.insert(m.point);
        m_usable = true;
    }

    // Whether the listed inode of the subfolder name of the folder at relative
    // (its path from the root, "" or ending in "/") is its own, where that folder
    // was reached from the root by plain subfolders alone.
    bool trusted(std::string_view relative, std::string_view name) const {
        if (!m_usable) return false;
        if (m_mountPoints.empty()) return true;
        std::string path = m_root;
        if (!path.ends_with('/')) path += '/';
        path.append(relative).append(name);
        return !m_mountPoints.contains(path);
    }

private:
    bool m_usable = false;
    std::string m_root;                             // the root's path with every link resolved
    std::unordered_set<std::string> m_mountPoints;  // every one below the root
};

}  // namespace

LibraryScan scanLibrary(const std::string& libraryText, platform::DirLookup& lookup,
                        std::optional<std::pair<dev_t, ino_t>> leaveOut) {
    platform::Posix& posix = lookup.posix();
    LibraryScan scan;
    const std::string root = libraryText + "/";
    scan.SourceDirs.push_back(root);
    std::set<std::pair<dev_t, ino_t>> listed;
    if (leaveOut) listed.insert(*leaveOut);
    // The root itself is remembered so that no link leads back into it; its
    // device is that of every folder found by its listed inode.
    dev_t device = 0;
    bool rootKnown = false;
    if (struct stat st{}; posix.stat(root.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        listed.emplace(st.st_dev, st.st_ino);
        device = st.st_dev;
        rootKnown = true;
    }
    const ListedIdentity identity(posix, libraryText);
    // Whether each folder was reached from the root by plain subfolders alone,
    // none of them a mount point: its subfolders' listed inodes may then be trusted.
    std::vector<bool> plainPath{rootKnown};

    std::vector<ListedEntry> entries;
    std::vector<DirEntry> folders;
    std::set<std::string> lookedAt;  // subfolders known by a look, not by the listing
    for (std::size_t j = 0; j < scan.SourceDirs.size(); ++j) {
        // The entry is copied: push_back below may move the vector's strings.
        const std::string folder = scan.SourceDirs[j];
        const bool plain = plainPath[j];
        if (posix.readDirectory(folder.c_str(), entries) != 0) {
            scan.skipped.push_back({j, errno});
            continue;
        }
        folders.clear();
        lookedAt.clear();
        for (ListedEntry& e : entries) {
            if (e.name.starts_with('.')) {  // hidden: left out, but a leftover is noted
                if (platform::isLeftoverName(e.name)) scan.leftovers.push_back({folder, e.name});
                continue;
            }
            if (e.type == ListedEntry::Type::File) {
                scan.index.add(j, e.name);
            } else if (e.type == ListedEntry::Type::Directory && plain &&
                       identity.trusted(std::string_view(folder).substr(root.size()), e.name)) {
                folders.push_back({std::move(e.name), EntryKind::Directory, device, e.inode});
            } else if (e.type != ListedEntry::Type::Other) {
                // A link, a mount point, or a listing that cannot be trusted: looked at.
                struct stat st {};
                if (posix.stat((folder + e.name).c_str(), &st) != 0) continue;
                DirEntry looked = platform::entryFromStat(std::move(e.name), st);
                if (looked.kind == EntryKind::File) {
                    scan.index.add(j, looked.name);
                } else if (looked.kind == EntryKind::Directory) {
                    lookedAt.insert(looked.name);
                    folders.push_back(std::move(looked));
                }
            }
        }
        platform::sortEntries(folders);
        for (const DirEntry& f : folders) {
            if (!listed.emplace(f.device, f.inode).second) continue;
            scan.SourceDirs.push_back(folder + f.name + "/");
            plainPath.push_back(plain && !lookedAt.contains(f.name));
        }
    }
    return scan;
}

}  // namespace kestrom::engine
