// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

namespace kestrom::platform {

// A failed file operation: the error number that users of the original desktop
// know (53 file not found, 70 permission denied...) and a short description in
// Japanese. The replace step shows both, as "path:(number)description".
struct FileError {
    int number = 0;
    std::string description;

    friend bool operator==(const FileError&, const FileError&) = default;
};

// Translates a POSIX errno into the familiar number and its description.
// ENOENT is "file not found" (53); callers that know the folder is missing
// report pathNotFound() instead.
FileError fileErrorFromErrno(int err);
FileError pathNotFound();
// The same for a folder that could not be listed: a refused read is an access
// error (75), not "cannot write" (70), and a folder that is not there is a path
// not found (76).
FileError folderReadErrorFromErrno(int err);

// The failure as the messages show it after a name: "(70)書き込みできません。".
std::string numbered(const FileError& error);

}  // namespace kestrom::platform
