// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace kestrom::platform {

enum class EntryKind { File, Directory, Other };

// One entry of a folder. Links are followed: a link to a folder is a Directory,
// a broken link is Other (like sockets, pipes and devices). device and inode are
// set for directories only.
struct DirEntry {
    std::string name;
    EntryKind kind = EntryKind::Other;
    dev_t device = 0;
    ino_t inode = 0;
};

// The entry that a stat() result describes.
DirEntry entryFromStat(std::string name, const struct stat& st);

// The POSIX calls that the file operations and the directory lookup make, behind
// one seam so that a test can make any of them fail (a given call, a given errno)
// where the system cannot be made to fail on demand, for instance as root.
// Each method behaves like the call it is named after: -1 and errno on failure.
class Posix {
public:
    Posix() = default;
    Posix(const Posix&) = delete;
    Posix& operator=(const Posix&) = delete;
    virtual ~Posix() = default;

    virtual int open(const char* path, int flags, mode_t mode);
    virtual ssize_t read(int fd, void* buffer, size_t count);
    virtual ssize_t write(int fd, const void* buffer, size_t count);
    virtual int fsync(int fd);
    virtual int close(int fd);
    virtual int fstat(int fd, struct stat* st);
    virtual int stat(const char* path, struct stat* st);  // follows links
    virtual int chmod(const char* path, mode_t mode);
    virtual int fchmod(int fd, mode_t mode);
    virtual int fchown(int fd, uid_t owner, gid_t group);
    virtual int rename(const char* from, const char* to);
    virtual int unlink(const char* path);
    // Every entry of a folder but "." and "..", in the file system's own order.
    // Returns 0, or the errno of the failure (entries then holds nothing useful).
    virtual int listDirectory(const char* path, std::vector<DirEntry>& entries);
    // The absolute path of an existing file or folder, links resolved, into resolved.
    virtual int realpath(const char* path, std::string& resolved);
};

// The real system calls. Stateless; shared by everything that is not under test.
Posix& systemPosix();

}  // namespace kestrom::platform
