// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#ifdef _WIN32
#include "platform/win32/PosixTypes.h"
#else
#include <sys/stat.h>
#include <sys/types.h>
#endif

#include <span>
#include <string>
#include <vector>

namespace kestrom::platform {

// BrokenLink: a symbolic link that cannot be followed to anything (its target
// does not exist, or the links loop). Other: sockets, pipes, devices.
enum class EntryKind { File, Directory, BrokenLink, Other };

// One entry of a folder. Links are followed: a link to a folder is a Directory,
// a link to a file a File. device and inode are set for directories only, error
// for broken links only: the errno of following the link.
struct DirEntry {
    std::string name;
    EntryKind kind = EntryKind::Other;
    dev_t device = 0;
    ino_t inode = 0;
    int error = 0;
};

// One entry of a folder as the folder's listing alone tells it, nothing looked
// up. Unknown: a link, or an entry whose type the listing does not give; a look
// at it (stat) tells what it is.
struct ListedEntry {
    enum class Type { File, Directory, Unknown, Other };
    std::string name;
    Type type = Type::Unknown;
    // The listing's inode number (d_ino) of a Directory. It is the folder's own
    // only where no mount shows another file system or folder there, and only on
    // file systems whose listings give the inode a look gives; 0 where the system
    // has none.
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
    virtual ssize_t pread(int fd, void* buffer, size_t count, off_t offset);
    virtual ssize_t pwrite(int fd, const void* buffer, size_t count, off_t offset);
    virtual int ftruncate(int fd, off_t length);
    // Copies inside the kernel (copy_file_range); -1 with ENOSYS, EXDEV, EINVAL
    // or EOPNOTSUPP where the kernel or the file system cannot.
    virtual ssize_t copyFileRange(int in, off_t* inOffset, int out, off_t* outOffset, size_t count);
    virtual int fsync(int fd);
    virtual int fdatasync(int fd);
    // Puts the files fds (plain files and folders of one file system) on disk,
    // data and names alike, in one go where the system can: on Linux one
    // syncfs() of their file system, a single device flush for many files (it
    // writes what other programs changed there too, which is written sooner or
    // later anyway). 0 for no fds.
    virtual int flushFiles(std::span<const int> fds);
    virtual int close(int fd);
    virtual int fstat(int fd, struct stat* st);
    virtual int stat(const char* path, struct stat* st);  // follows links
    virtual int lstat(const char* path, struct stat* st);
    virtual int chmod(const char* path, mode_t mode);
    virtual int fchmod(int fd, mode_t mode);
    virtual int fchown(int fd, uid_t owner, gid_t group);
    virtual int chown(const char* path, uid_t owner, gid_t group);
    virtual int flock(int fd, int operation);
    virtual int rename(const char* from, const char* to);
    virtual int unlink(const char* path);
    // Gives the file at from a second name, to (link): both lead to the one file.
    virtual int link(const char* from, const char* to);
    // Whether the process may use path as mode asks (access: R_OK, W_OK...).
    virtual int access(const char* path, int mode);
    // The path with every link, "." and ".." resolved (realpath); -1 and errno
    // when a part of it does not exist or cannot be read.
    virtual int realpath(const char* path, std::string& resolved);
    // Every entry of a folder but "." and "..", in the file system's own order.
    // On failure entries holds nothing useful.
    virtual int listDirectory(const char* path, std::vector<DirEntry>& entries);
    // The same, but as the listing alone tells them: no entry is looked at, so
    // a folder of many subfolders costs a few calls rather than one a subfolder.
    virtual int readDirectory(const char* path, std::vector<ListedEntry>& entries);
};

// The real system calls. Stateless; shared by everything that is not under test.
Posix& systemPosix();

}  // namespace kestrom::platform
