// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

#include "platform/Texts.h"

namespace kestrom::platform {

// A failed file operation: an error number and a short description, which the
// messages show together as "path:(number)description". Each cause has a number
// of its own, so that the user can tell a read-only file system from a file
// that another program is writing. The numbers below 80 are those that users of
// the original desktop know (53 file not found, 70 permission denied...); from
// 80 on they name causes of this program's own. description is the Japanese
// text; numbered() shows it in the user's language.
struct FileError {
    int number = 0;
    std::string description;

    friend bool operator==(const FileError&, const FileError&) = default;
};

// Error numbers with a cause of their own.
inline constexpr int kBusyFile = 55;  // another program is writing the file
inline constexpr int kReadOnlyFileSystem = 80;
inline constexpr int kSameFile = 81;  // a move onto the file it moves
inline constexpr int kNotMpegAudio = 82;
inline constexpr int kNoTag = 83;
inline constexpr int kDamagedTag = 84;  // the old tags hold what cannot be carried over
inline constexpr int kTooLarge = 85;
inline constexpr int kNotPlainFile = 86;
inline constexpr int kTextTooLong = 87;
inline constexpr int kFolderNotWritable = 88;  // the file's folder refuses new files

// The error of that number (an unknown number is the access error, 75).
FileError fileError(int number);

// Translates a POSIX errno into the familiar number and its description.
// ENOENT is "file not found" (53); callers that know the folder is missing
// report pathNotFound() instead.
FileError fileErrorFromErrno(int err);
FileError pathNotFound();
// The same for a folder that could not be listed: a refused read is an access
// error (75), not "cannot write" (70), and a folder that is not there is a path
// not found (76).
FileError folderReadErrorFromErrno(int err);
// The same for the errno that the tag library left on a failed read or write,
// where some numbers name the library's own checks (vbmp3.h): EINVAL a file
// that is no plain file, EBUSY one that another program is writing, ENOEXEC
// no MPEG audio, ENODATA no tag, EBADMSG old tags that cannot be carried over
// exactly, EFBIG a tag too large, EOVERFLOW a text too long.
FileError tagErrorFromErrno(int err);

// The failure as the messages show it after a name, "(70)書き込みできません。",
// in the language given.
std::string numbered(const FileError& error, const Language& language = japanese());

// Every description, with its number, for the tests of the catalogues.
std::vector<std::pair<int, Text>> fileErrorTexts();

}  // namespace kestrom::platform
