// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>

#include "platform/FileError.h"
#include "platform/Posix.h"

namespace kestrom::platform {

// A hidden temporary file beside a target file, holding what the target is to
// become. It replaces the target only through commit(); destroyed without a
// commit it is removed and the target stays exactly as it was.
class PendingFile {
public:
    PendingFile(Posix& posix, std::string path, std::string target, int fd);
    PendingFile(PendingFile&& other) noexcept;
    PendingFile& operator=(PendingFile&&) = delete;
    ~PendingFile();

    // Where the new content is; writers may change the file there before commit.
    const std::string& path() const { return m_path; }

    // Syncs the new content to disk and renames it over the target in one step,
    // so that a crash leaves either the old or the new file, never a mix.
    std::optional<FileError> commit();

private:
    Posix* m_posix;
    std::string m_path;
    std::string m_target;
    int m_fd;
    bool m_committed = false;
};

// Copy, delete and attribute reset with the failure numbers that the program
// reports. Every failure leaves the files as they were.
class FileOps {
public:
    explicit FileOps(Posix& posix = systemPosix()) : m_posix(posix) {}

    // Clears the read-only state: the owner may write the file afterwards.
    std::optional<FileError> setNormal(const std::string& path) const;

    // Copies from over to, replacing to atomically (see PendingFile). A read-only
    // destination is refused (70), as is a destination that is the source itself
    // reached by another path, which the copy would otherwise turn into a loss
    // once the source is deleted.
    std::optional<FileError> copyReplacing(const std::string& from, const std::string& to) const;

    // Deletes one file (no wildcards). A read-only file or a folder is refused (75).
    std::optional<FileError> deleteFile(const std::string& path) const;

    // Reads the whole file at path into content. A file larger than maxBytes is
    // refused (EFBIG), so that a wrong path cannot fill the memory.
    std::optional<FileError> readAll(const std::string& path, std::size_t maxBytes,
                                     std::string& content) const;

    // Copies from into a new hidden file beside target, with the mode of from
    // and, where the process may, the owner of an existing target. from may be
    // target itself, for a writer that edits a copy of a file before it replaces
    // the original. A read-only target is refused (70).
    std::optional<FileError> prepareReplacement(const std::string& from, const std::string& target,
                                                std::optional<PendingFile>& pending) const;

private:
    Posix& m_posix;
};

}  // namespace kestrom::platform
