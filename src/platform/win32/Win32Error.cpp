// SPDX-License-Identifier: GPL-3.0-or-later
#include <windows.h>

#include <cerrno>

#include "platform/Posix.h"
#include "platform/win32/Win32.h"

namespace kestrom::platform::win32 {

int errnoFromWin32(unsigned long error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
        case ERROR_INVALID_DRIVE:
        case ERROR_NO_MORE_FILES: return ENOENT;
        case ERROR_DIRECTORY: return ENOTDIR;
        case ERROR_ACCESS_DENIED:
        case ERROR_PRIVILEGE_NOT_HELD: return EACCES;
        case ERROR_WRITE_PROTECT: return EROFS;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_USER_MAPPED_FILE:
        case ERROR_BUSY: return EBUSY;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS: return EEXIST;
        case ERROR_DIR_NOT_EMPTY: return ENOTEMPTY;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return ENOSPC;
        case 1295: return EDQUOT;  // ERROR_DISK_QUOTA_EXCEEDED, which mingw-w64 lacks
        case ERROR_FILE_TOO_LARGE: return EFBIG;
        case ERROR_NOT_READY: return ENOMEDIUM;
        case ERROR_DEV_NOT_EXIST:
        case ERROR_NETNAME_DELETED:
        case ERROR_UNEXP_NET_ERR: return ENOTCONN;
        case ERROR_NOT_SAME_DEVICE: return EXDEV;
        case ERROR_FILENAME_EXCED_RANGE:
        case ERROR_BUFFER_OVERFLOW: return ENAMETOOLONG;
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_INVALID_PARAMETER: return EINVAL;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY: return ENOMEM;
        case ERROR_TOO_MANY_OPEN_FILES: return EMFILE;
        case ERROR_INVALID_HANDLE: return EBADF;
        case ERROR_CANT_RESOLVE_FILENAME:
        case 681:  // ERROR_STOPPED_ON_SYMLINK
            return ELOOP;
        case ERROR_NOT_SUPPORTED:
        case ERROR_INVALID_FUNCTION: return EOPNOTSUPP;
        case ERROR_TOO_MANY_LINKS: return EMLINK;
        case ERROR_CRC:
        case ERROR_SECTOR_NOT_FOUND:
        case ERROR_READ_FAULT:
        case ERROR_WRITE_FAULT:
        case ERROR_GEN_FAILURE:
        case ERROR_IO_DEVICE: return EIO;
        default: return EOPNOTSUPP;  // reported as an access failure (75)
    }
}

int failFromLastError() {
    errno = errnoFromWin32(::GetLastError());
    return -1;
}

}  // namespace kestrom::platform::win32
