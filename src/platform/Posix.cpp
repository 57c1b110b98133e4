// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace kestrom::platform {

DirEntry entryFromStat(std::string name, const struct stat& st) {
    DirEntry entry{std::move(name), EntryKind::Other, 0, 0};
    if (S_ISREG(st.st_mode)) {
        entry.kind = EntryKind::File;
    } else if (S_ISDIR(st.st_mode)) {
        entry.kind = EntryKind::Directory;
        entry.device = st.st_dev;
        entry.inode = st.st_ino;
    }
    return entry;
}

int Posix::open(const char* path, int flags, mode_t mode) {
    return ::open(path, flags | O_CLOEXEC, mode);
}
ssize_t Posix::read(int fd, void* buffer, size_t count) {
    return ::read(fd, buffer, count);
}
ssize_t Posix::write(int fd, const void* buffer, size_t count) {
    return ::write(fd, buffer, count);
}
int Posix::fsync(int fd) {
    return ::fsync(fd);
}
int Posix::close(int fd) {
    return ::close(fd);
}
int Posix::fstat(int fd, struct stat* st) {
    return ::fstat(fd, st);
}
int Posix::stat(const char* path, struct stat* st) {
    return ::stat(path, st);
}
int Posix::chmod(const char* path, mode_t mode) {
    return ::chmod(path, mode);
}
int Posix::fchmod(int fd, mode_t mode) {
    return ::fchmod(fd, mode);
}
int Posix::fchown(int fd, uid_t owner, gid_t group) {
    return ::fchown(fd, owner, group);
}
int Posix::rename(const char* from, const char* to) {
    return ::rename(from, to);
}
int Posix::unlink(const char* path) {
    return ::unlink(path);
}

int Posix::listDirectory(const char* path, std::vector<DirEntry>& entries) {
    DIR* dir = ::opendir(path);
    if (dir == nullptr) return errno;
    const int dirFd = ::dirfd(dir);
    entries.clear();
    int err = 0;
    for (;;) {
        errno = 0;
        const dirent* d = ::readdir(dir);
        if (d == nullptr) {
            err = errno;
            break;
        }
        const std::string_view name = d->d_name;
        if (name == "." || name == "..") continue;
        if (d->d_type == DT_REG) {  // the common case needs no stat
            entries.push_back({std::string(name), EntryKind::File, 0, 0});
        } else if (struct stat st{}; ::fstatat(dirFd, d->d_name, &st, 0) == 0) {
            entries.push_back(entryFromStat(std::string(name), st));
        } else {
            entries.push_back({std::string(name), EntryKind::Other, 0, 0});  // a broken link
        }
    }
    ::closedir(dir);
    return err;
}

int Posix::realpath(const char* path, std::string& resolved) {
    char* result = ::realpath(path, nullptr);
    if (result == nullptr) return -1;
    resolved = result;
    std::free(result);
    return 0;
}

Posix& systemPosix() {
    static Posix real;
    return real;
}

}  // namespace kestrom::platform
