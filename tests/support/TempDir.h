// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrom::test {

// A fresh folder under base (a folder on another file system, say) or else under
// the system's temporary folder, removed with everything in it when the object
// goes away.
class TempDir {
public:
    explicit TempDir(const std::string& base = {});
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir();

    // The folder's path, without a trailing "/".
    const std::string& path() const { return m_path; }
    std::string operator/(std::string_view relative) const { return m_path + "/" += relative; }

private:
    std::string m_path;
};

// The path as the standard library takes it: a program path is UTF-8, which
// Windows would otherwise read in its ANSI code page.
std::filesystem::path nativePath(std::string_view path);

// Creates a file (and its missing parent folders) holding content.
void writeFile(const std::string& path, std::string_view content = "x");
// Writes the files of a tree: "path:content" entries under folder, separated by
// blanks, each content a line (a line break is added to one that is not empty).
// A path that starts with "!" is made read-only.
void writeTree(const std::string& folder, std::string_view tree);
// The whole content of a file; fails the test when it cannot be read.
std::string readFile(const std::string& path);
// Creates a folder and its missing parents.
inline void makeDirs(const std::string& path) {
    std::filesystem::create_directories(nativePath(path));
}
bool exists(const std::string& path);
// The file's inode number (on Windows its file index); 0 when there is no such file.
std::uint64_t inodeOf(const std::string& path);
// Every file and folder in and below folder, by its path from it, sorted.
std::vector<std::string> treeOf(const std::string& folder);
// Every file in and below folder as writeTree takes it, "path:content" a blank
// apart in treeOf's order, each content through show (by default: without the
// line break at its end).
std::string treeText(const std::string& folder,
                     const std::function<std::string(const std::string&)>& show = {});
// The hidden ones (names that start with ".") of treeOf, each followed by a
// blank: what the program's listings never show and a run must not leave behind.
std::string hiddenFiles(const std::string& folder);

}  // namespace kestrom::test
