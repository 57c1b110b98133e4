// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/FolderCheck.h"

#include "engine/Messages.h"

#include <vector>

#include "platform/MountTable.h"
#include "platform/Text.h"

namespace kestrom::engine {
namespace {

// The length of the root that begins an absolute path, up to and with its
// separator: "/" on POSIX; on Windows a drive, "C:/", or a share,
// "//server/share/". 0 for a path relative to the current folder.
std::size_t rootLength(std::string_view path) {
#ifdef _WIN32
    const bool letter = path.size() >= 2 && path[1] == ':' &&
                        ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
    if (letter) return path.size() >= 3 && path[2] == '/' ? 3 : 0;  // "C:x" is relative
    if (path.starts_with("//")) {
        const std::size_t server = path.find('/', 2);
        if (server == std::string_view::npos) return path.size();
        const std::size_t share = path.find('/', server + 1);
        return share == std::string_view::npos ? path.size() : share + 1;
    }
#endif
    return path.starts_with('/') ? 1 : 0;
}

// The folder a text names, as one absolute spelling. An existing path is
// resolved by the system (links included); any other is made absolute from the
// current folder and folded by its text, ".." never climbing above the root.
std::string absolutePath(std::string_view text, platform::Posix& posix) {
    std::string resolved;
    if (posix.realpath(std::string(text).c_str(), resolved) == 0) return resolved;
    std::string path(text);
    if (rootLength(text) == 0 && posix.realpath(".", resolved) == 0) path = resolved + "/" + path;

    const std::size_t root = rootLength(path);
    std::vector<std::string_view> names;
    std::string_view rest = std::string_view(path).substr(root);
    while (!rest.empty()) {
        const std::size_t slash = rest.find('/');
        const std::string_view name = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view{} : rest.substr(slash + 1);
        if (name.empty() || name == ".") continue;
        if (name == "..") {
            if (!names.empty()) names.pop_back();
            continue;
        }
        names.push_back(name);
    }
    std::string folded = path.substr(0, root);
    for (std::string_view name : names) {
        if (!folded.empty() && !folded.ends_with('/')) folded += '/';
        folded += name;
    }
    return folded.empty() ? "/" : folded;
}

// True when the folder `outer` is, by identity (device and inode), the folder
// `path` or one of its parents, whatever their paths: path lies where outer is
// shown a second time, by a bind mount say. A folder that does not exist holds
// nothing.
bool holdsByIdentity(const std::string& outer, const std::string& path, platform::Posix& posix) {
    struct stat target {};
    if (posix.stat(outer.c_str(), &target) != 0) return false;
    std::string folder = path;
    for (;;) {
        if (struct stat st{}; posix.stat(folder.c_str(), &st) == 0 && st.st_dev == target.st_dev &&
                              st.st_ino == target.st_ino)
            return true;
        if (folder == "/") return false;
        const std::size_t slash = folder.rfind('/');
        folder = slash == 0 || slash == std::string::npos ? "/" : folder.substr(0, slash);
    }
}

// True when one folder is the other or lies inside it, as paths of the file
// system that holds them (see platform::fileSystemPath): a folder shown in a
// second place by a bind mount is the same folder there. Walking up from such a
// place never meets the library, which is why the mount table is asked.
bool overlapInFileSystem(const std::string& x, const std::string& y, platform::Posix& posix) {
#ifdef _WIN32
    // Windows has no bind mounts, nor a mount table to ask: a folder shown in
    // a second place is a junction, a link that realpath() resolves.
    (void)x, (void)y, (void)posix;
    return false;
#endif
    const std::vector<platform::Mount> mounts =
        platform::parseMountInfo(platform::readMountInfo(posix));
    const auto fx = platform::fileSystemPath(mounts, x);
    const auto fy = platform::fileSystemPath(mounts, y);
    return fx && fy && fx->device == fy->device &&
           (platform::pathHolds(fx->path, fy->path) || platform::pathHolds(fy->path, fx->path));
}

bool overlap(std::string_view a, std::string_view b, platform::Posix& posix) {
    if (a.empty() || b.empty()) return true;
    const std::string x = absolutePath(a, posix);
    const std::string y = absolutePath(b, posix);
    return platform::pathHolds(x, y) || platform::pathHolds(y, x) || holdsByIdentity(x, y, posix) ||
           holdsByIdentity(y, x, posix) || overlapInFileSystem(x, y, posix);
}

bool namesFolder(std::string_view text, platform::DirLookup& lookup) {
    return !lookup.firstLiteral(text, platform::Filter::Folder).empty() &&
           lookup.current().kind == platform::EntryKind::Directory;
}

}  // namespace

std::optional<std::string> checkFolders(std::string_view libraryText, std::string_view workText,
                                        platform::DirLookup& lookup, platform::Posix& posix,
                                        const platform::Language& language) {
    if (overlap(libraryText, workText, posix)) return language(texts::kOverlap);
    for (std::string_view text : {libraryText, workText}) {
        if (!namesFolder(text, lookup))
            return platform::format(language(texts::kMissingFolder), {platform::displayName(text)});
    }
    return std::nullopt;
}

std::string_view withoutTrailingSeparators(std::string_view text) {
    const std::size_t last = text.find_last_not_of('/');
    if (last == std::string_view::npos) return text.empty() ? text : "/";
    return text.substr(0, last + 1);
}

}  // namespace kestrom::engine
