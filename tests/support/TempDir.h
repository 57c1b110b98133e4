// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

namespace kestrom::test {

// A fresh folder under the system's temporary folder, removed with everything in
// it when the object goes away.
class TempDir {
public:
    // Under base when given (a folder on another file system, say), else under
    // the system's temporary folder.
    explicit TempDir(const std::string& base = {});
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir();

    // The folder's path, without a trailing "/".
    const std::string& path() const { return m_path; }
    // path() + "/" + relative
    std::string operator/(std::string_view relative) const;

private:
    std::string m_path;
};

// Creates a file (and its missing parent folders) holding content.
void writeFile(const std::string& path, std::string_view content = "x");
// The whole content of a file; fails the test when it cannot be read.
std::string readFile(const std::string& path);
// Creates a folder and its missing parents.
void makeDirs(const std::string& path);
bool exists(const std::string& path);

}  // namespace kestrom::test
