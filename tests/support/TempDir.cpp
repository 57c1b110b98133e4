// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <random>

#include "platform/Posix.h"

namespace kestrom::test {

namespace fs = std::filesystem;

fs::path nativePath(std::string_view path) {
    return fs::path(std::u8string(path.begin(), path.end()));
}

// The program's spelling of a path: UTF-8 with "/" between names.
std::string programPath(const fs::path& path) {
    const std::u8string text = path.generic_u8string();
    return {text.begin(), text.end()};
}

TempDir::TempDir(const std::string& base) {
    // A name no other test process picks: create_directory fails on one that is
    // taken, and another is drawn.
    const fs::path parent = base.empty() ? fs::temp_directory_path() : nativePath(base);
    std::random_device seed;
    std::mt19937_64 draw(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path path = parent / ("kestrom-test-" + std::to_string(draw() % 1000000000));
        std::error_code ec;
        if (fs::create_directory(path, ec)) {
            m_path = programPath(path);
            while (m_path.size() > 1 && m_path.ends_with('/')) m_path.pop_back();
            return;
        }
    }
    throw std::runtime_error("cannot make a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ec;
    // Give back write access first, so that folders a test made read-only go too.
    fs::recursive_directory_iterator it(nativePath(m_path),
                                        fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::end(it); it.increment(ec))
        if (!it->is_symlink())
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(nativePath(m_path), ec);
}

void writeFile(const std::string& path, std::string_view content) {
    fs::create_directories(nativePath(path).parent_path());
    std::ofstream out(nativePath(path), std::ios::binary | std::ios::trunc);
    if (!out.write(content.data(), static_cast<std::streamsize>(content.size())))
        ADD_FAILURE() << "cannot write " << path;
}

void writeTree(const std::string& folder, std::string_view tree) {
    for (std::size_t end = 0, start = 0; start < tree.size(); start = end + 1) {
        end = std::min(tree.find(' ', start), tree.size());
        const std::string_view entry = tree.substr(start, end - start);
        const std::size_t colon = entry.find(':'), from = entry.starts_with('!') ? 1 : 0;
        const std::string path = folder + "/" += entry.substr(from, colon - from);
        const std::string_view content = entry.substr(colon + 1);
        writeFile(path, content.empty() ? "" : std::string(content) + "\n");
        if (from == 1)
            fs::permissions(
                nativePath(path),
                fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                fs::perm_options::remove);
    }
}

std::string readFile(const std::string& path) {
    std::ifstream in(nativePath(path), std::ios::binary);
    if (!in) ADD_FAILURE() << "cannot read " << path;
    // Whole blocks at a time: a character at a time makes the tests that read
    // songs of real size crawl in the checked build.
    std::string content;
    char block[65536];
    while (in.read(block, sizeof block) || in.gcount() > 0)
        content.append(block, static_cast<std::size_t>(in.gcount()));
    return content;
}

bool exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(nativePath(path), ec));
}

std::uint64_t inodeOf(const std::string& path) {
    struct stat st {};
    return platform::systemPosix().stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

std::vector<std::string> treeOf(const std::string& folder) {
    std::vector<std::string> found;
    const fs::path top = nativePath(folder);
    for (const auto& e : fs::recursive_directory_iterator(top))
        found.push_back(programPath(e.path().lexically_relative(top)));
    std::sort(found.begin(), found.end());
    return found;
}

std::string treeText(const std::string& folder,
                     const std::function<std::string(const std::string&)>& show) {
    std::string text;
    for (const std::string& path : treeOf(folder)) {
        const std::string file = folder + "/" += path;
        if (!fs::is_regular_file(nativePath(file))) continue;
        std::string content = readFile(file);
        if (!show && content.ends_with('\n')) content.pop_back();
        text += (text.empty() ? "" : " ") + path + ":" + (show ? show(content) : content);
    }
    return text;
}

std::string hiddenFiles(const std::string& folder) {
    std::string hidden;
    for (const std::string& path : treeOf(folder))
        if (path.substr(path.rfind('/') + 1).starts_with('.')) hidden += path + " ";
    return hidden;
}

}  // namespace kestrom::test
