// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The POSIX types, flags and error numbers that the platform seam (Posix.h)
// speaks, for Windows. The C library of mingw-w64 has only a 16-bit inode, a
// 16-bit mode and no owners in its struct stat, so the build leaves out its old
// POSIX names (NO_OLDNAMES) and the seam's Win32 implementation fills this
// struct stat instead: the volume serial number as the device, the 64-bit file
// index as the inode, the read-only attribute as the owner's write permission.

#include <sys/types.h>
#include <time.h>

#include <cerrno>
#include <cstdint>

using off_t = std::int64_t;
using mode_t = std::uint32_t;
using dev_t = std::uint64_t;
using ino_t = std::uint64_t;
using nlink_t = std::uint32_t;
using uid_t = std::uint32_t;
using gid_t = std::uint32_t;

struct stat {
    dev_t st_dev = 0;
    ino_t st_ino = 0;
    mode_t st_mode = 0;
    nlink_t st_nlink = 0;
    uid_t st_uid = 0;  // Windows has no POSIX owner: always 0, as geteuid() says
    gid_t st_gid = 0;
    off_t st_size = 0;
    // NTFS's usual cluster. Copies are made by reading and writing here
    // (Posix::copyFileRange), so it only aligns their pieces.
    std::int64_t st_blksize = 4096;
    struct timespec st_atim {};
    struct timespec st_mtim {};
    struct timespec st_ctim {};
};

// What a Win32 file can be: a folder, a file, or a reparse point that leads
// nowhere (a link).
#define S_IFMT 0170000
#define S_IFDIR 0040000
#define S_IFREG 0100000
#define S_IFLNK 0120000
#define S_ISDIR(m) (((m)&S_IFMT) == S_IFDIR)
#define S_ISREG(m) (((m)&S_IFMT) == S_IFREG)
#define S_ISLNK(m) (((m)&S_IFMT) == S_IFLNK)
#define S_IRUSR 0400
#define S_IWUSR 0200
#define S_IXUSR 0100

// open() flags. O_DIRECTORY opens a folder (to sync or lock it); O_NOFOLLOW
// refuses a symbolic link; the others have no meaning on Windows and are
// accepted.
#define O_RDONLY 0x0000
#define O_WRONLY 0x0001
#define O_RDWR 0x0002
#define O_ACCMODE 0x0003
#define O_CREAT 0x0100
#define O_TRUNC 0x0200
#define O_EXCL 0x0400
#define O_DIRECTORY 0x10000
#define O_NOFOLLOW 0x20000
#define O_NOCTTY 0
#define O_NONBLOCK 0
#define O_CLOEXEC 0

// flock() operations.
#define LOCK_SH 1
#define LOCK_EX 2
#define LOCK_NB 4
#define LOCK_UN 8

// access() modes.
#define F_OK 0
#define R_OK 4
#define W_OK 2
#define X_OK 1

// Error numbers that the C library of mingw-w64 lacks; the Win32 errors that
// stand for them are mapped to them (platform/win32/Win32Error.cpp).
#ifndef ESTALE
#define ESTALE 2001
#endif
#ifndef EDQUOT
#define EDQUOT 2002
#endif
#ifndef ENOMEDIUM
#define ENOMEDIUM 2003
#endif

// The owner the shared code asks for: a Windows process owns what it creates,
// so owners never need to be handed on. (getpid() is the C library's.)
inline uid_t geteuid() {
    return 0;
}
inline gid_t getegid() {
    return 0;
}
