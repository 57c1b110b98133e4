// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>

namespace kestrom::test {

namespace fs = std::filesystem;

TempDir::TempDir(const std::string& base)
    : m_path((base.empty() ? fs::temp_directory_path() : fs::path(base)) / "kestrom-test-XXXXXX") {
    if (::mkdtemp(m_path.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
}

TempDir::~TempDir() {
    std::error_code ec;
    // Give back write access first, so that folders a test made read-only go too.
    fs::recursive_directory_iterator it(m_path, fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::end(it); it.increment(ec))
        if (!it->is_symlink())
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(m_path, ec);
}

void writeFile(const std::string& path, std::string_view content) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
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
        if (from == 1) ::chmod(path.c_str(), 0444);
    }
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) ADD_FAILURE() << "cannot read " << path;
    return {std::istreambuf_iterator<char>(in), {}};
}

bool exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

ino_t inodeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

std::vector<std::string> treeOf(const std::string& folder) {
    std::vector<std::string> found;
    for (const auto& e : fs::recursive_directory_iterator(folder))
        found.push_back(e.path().lexically_relative(folder));
    std::sort(found.begin(), found.end());
    return found;
}

std::string treeText(const std::string& folder,
                     const std::function<std::string(const std::string&)>& show) {
    std::string text;
    for (const std::string& path : treeOf(folder)) {
        const fs::path file = fs::path(folder) / path;
        if (!fs::is_regular_file(file)) continue;
        std::string content = readFile(file);
        if (!show && content.ends_with('\n')) content.pop_back();
        text += (text.empty() ? "" : " ") + path + ":" + (show ? show(content) : content);
    }
    return text;
}

std::string hiddenFiles(const std::string& folder) {
    std::string hidden;
    for (const std::string& path : treeOf(folder))
        if (fs::path(path).filename().string().starts_with('.')) hidden += path + " ";
    return hidden;
}

}  // namespace kestrom::test
