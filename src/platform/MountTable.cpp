// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/MountTable.h"

#include <algorithm>
#include <charconv>
#include <iterator>

#include "platform/FileOps.h"

namespace kestrom::platform {
namespace {

bool isOctal(char c) {
    return c >= '0' && c <= '7';
}

// The table writes blank, tab, newline and backslash in paths as \ooo.
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

bool parseNumber(std::string_view field, int& value) {
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
    return error == std::errc() && end == field.data() + field.size();
}

std::optional<Mount> parseLine(std::string_view line) {
    const std::vector<std::string_view> fields = splitFields(line);
    if (fields.size() < 6) return std::nullopt;
    const auto dash = std::find(fields.begin() + 6, fields.end(), std::string_view("-"));
    if (dash == fields.end() || std::next(dash) == fields.end()) return std::nullopt;
    Mount mount;
    if (!parseNumber(fields[0], mount.id) || !parseNumber(fields[1], mount.parent))
        return std::nullopt;
    mount.device = std::string(fields[2]);
    mount.root = unescape(fields[3]);
    mount.point = unescape(fields[4]);
    mount.type = std::string(*std::next(dash));
    if (mount.point.empty() || mount.point.front() != '/') return std::nullopt;
    return mount;
}

}  // namespace

std::vector<Mount> parseMountInfo(std::string_view text) {
    std::vector<Mount> mounts;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        if (auto mount = parseLine(text.substr(pos, end - pos)))
            mounts.push_back(std::move(*mount));
        pos = end + 1;
    }
    return mounts;
}

std::string readMountInfo(Posix& posix) {
    std::string text;
    if (readFile(posix, "/proc/self/mountinfo", 16 << 20, text) != 0) text.clear();
    return text;
}

bool pathHolds(std::string_view folder, std::string_view path) {
    if (folder.ends_with('/')) return path.starts_with(folder);  // "/", or a drive's root "C:/"
    if (!path.starts_with(folder)) return false;
    return path.size() == folder.size() || path[folder.size()] == '/';
}

const Mount* mountShowing(const std::vector<Mount>& mounts, std::string_view path) {
    const auto isMount = [&](int id) {
        return std::any_of(mounts.begin(), mounts.end(),
                           [&](const Mount& m) { return m.id == id; });
    };
    // The root mount is the one at "/" that is mounted on nothing in the table.
    const auto root = std::find_if(mounts.begin(), mounts.end(), [&](const Mount& m) {
        return m.point == "/" && !isMount(m.parent);
    });
    if (root == mounts.end()) return nullptr;
    const Mount* current = &*root;
    // Each step goes one mount further along the path, so a table that loops
    // ends after as many steps as it has mounts.
    for (std::size_t step = 0; step < mounts.size(); ++step) {
        const Mount* next = nullptr;
        for (const Mount& m : mounts) {
            if (&m == current || m.parent != current->id || !pathHolds(m.point, path)) continue;
            if (next == nullptr || m.point.size() < next->point.size()) next = &m;
        }
        if (next == nullptr) break;
        current = next;
    }
    return current;
}

bool listsOwnInodes(std::string_view type) {
    return type == "ext2" || type == "ext3" || type == "ext4" || type == "xfs" || type == "tmpfs";
}

std::optional<FileSystemPath> fileSystemPath(const std::vector<Mount>& mounts,
                                             std::string_view path) {
    const Mount* current = mountShowing(mounts, path);
    if (current == nullptr) return std::nullopt;
    std::string_view rest = path.substr(std::min(current->point.size(), path.size()));
    while (rest.starts_with('/')) rest.remove_prefix(1);
    FileSystemPath place{current->device, current->root};
    if (!rest.empty()) {
        if (!place.path.ends_with('/')) place.path += '/';
        place.path += rest;
    }
    return place;
}

}  // namespace kestrom::platform
