// SPDX-License-Identifier: GPL-3.0-or-later
// The seam's calls on Win32, with the meaning the shared code gives them on
// POSIX: descriptors are small numbers standing for handles, every handle is
// opened with all three share modes (so that a file can be renamed or replaced
// while it is open, as on POSIX), and failures are errno values.
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/Posix.h"
#include "platform/Text.h"
#include "platform/win32/Win32.h"

namespace kestrom::platform {
namespace {

using win32::failFromLastError;
using win32::widePath;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// flock() of a file locks one byte far beyond any MP3 file's end: Win32's locks
// are mandatory, and a lock on the content would keep the process's own other
// handles (a check, a read) from reading it.
constexpr std::uint64_t kLockOffset = std::uint64_t{1} << 62;

struct Open {
    HANDLE handle = INVALID_HANDLE_VALUE;
    bool directory = false;
    // A folder cannot be locked itself: its lock is taken on a lock file named
    // after the folder's identity, held open here while the folder is.
    HANDLE lockFile = INVALID_HANDLE_VALUE;
};

// The descriptors of the process: the index is the descriptor.
std::mutex tableMutex;
std::deque<Open> table;  // a deque: growing it moves no entry

int addHandle(HANDLE handle, bool directory) {
    const std::lock_guard lock(tableMutex);
    for (std::size_t i = 3; i < table.size(); ++i) {
        if (table[i].handle == INVALID_HANDLE_VALUE) {
            table[i] = {handle, directory};
            return static_cast<int>(i);
        }
    }
    if (table.size() < 3) table.resize(3);
    table.push_back({handle, directory});
    return static_cast<int>(table.size() - 1);
}

// The entry of fd, or nullptr with EBADF.
Open* entry(int fd) {
    const std::lock_guard lock(tableMutex);
    if (fd < 0 || static_cast<std::size_t>(fd) >= table.size() ||
        table[static_cast<std::size_t>(fd)].handle == INVALID_HANDLE_VALUE) {
        errno = EBADF;
        return nullptr;
    }
    return &table[static_cast<std::size_t>(fd)];
}

HANDLE handleOf(int fd) {
    const Open* open = entry(fd);
    return open != nullptr ? open->handle : INVALID_HANDLE_VALUE;
}

std::int64_t fromFileTime(const FILETIME& time) {
    return static_cast<std::int64_t>((std::uint64_t{time.dwHighDateTime} << 32) |
                                     time.dwLowDateTime);
}

struct timespec toTimespec(const FILETIME& time) {
    // 100-nanosecond steps since 1601 to the POSIX epoch.
    const std::int64_t steps = fromFileTime(time) - 116444736000000000LL;
    struct timespec out {};
    out.tv_sec = static_cast<time_t>(steps / 10000000);
    out.tv_nsec = static_cast<long>((steps % 10000000) * 100);
    return out;
}

bool isLinkTag(DWORD tag) {
    return tag == IO_REPARSE_TAG_SYMLINK || tag == IO_REPARSE_TAG_MOUNT_POINT;
}

// Fills st from an open handle. A handle opened on a link itself (without
// following it) shows the link.
int statHandle(HANDLE handle, struct stat* st) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(handle, &info)) return failFromLastError();
    *st = {};
    st->st_dev = info.dwVolumeSerialNumber;
    st->st_ino = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    st->st_nlink = info.nNumberOfLinks;
    st->st_size = static_cast<off_t>((std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow);
    st->st_atim = toTimespec(info.ftLastAccessTime);
    st->st_mtim = toTimespec(info.ftLastWriteTime);
    st->st_ctim = toTimespec(info.ftCreationTime);
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        st->st_mode = S_IFDIR | 0755;
    } else {
        // The read-only attribute is the owner's missing write permission.
        st->st_mode =
            S_IFREG | ((info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0 ? 0444 : 0644);
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        FILE_ATTRIBUTE_TAG_INFO tag{};
        if (::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) &&
            isLinkTag(tag.ReparseTag))
            st->st_mode = S_IFLNK | 0777;
    }
    return 0;
}

int statPath(const char* path, struct stat* st, bool follow) {
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    const HANDLE handle = ::CreateFileW(widePath(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll,
                                        nullptr, OPEN_EXISTING, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return failFromLastError();
    const int result = statHandle(handle, st);
    const int err = errno;
    ::CloseHandle(handle);
    errno = err;
    return result;
}

// The lock file that stands for a folder: in the user's local application data,
// named after the folder's volume and file index, so that every path to the one
// folder takes the one lock. Empty when there is no such folder to make.
std::wstring folderLockFileName(HANDLE folder) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(folder, &info)) return {};
    std::wstring base(MAX_PATH, L'\0');
    DWORD size = ::GetEnvironmentVariableW(L"LOCALAPPDATA", base.data(), MAX_PATH);
    if (size == 0 || size >= MAX_PATH) size = ::GetTempPathW(MAX_PATH, base.data());
    if (size == 0 || size >= MAX_PATH) return {};
    base.resize(size);
    if (base.back() != L'\\') base += L'\\';
    base += L"Kestrom";
    ::CreateDirectoryW(base.c_str(), nullptr);
    base += L"\\Locks";
    ::CreateDirectoryW(base.c_str(), nullptr);
    wchar_t name[64];
    ::swprintf(name, 64, L"\\%08lx-%08lx%08lx.lock", info.dwVolumeSerialNumber, info.nFileIndexHigh,
               info.nFileIndexLow);
    return base + name;
}

bool sameFile(HANDLE a, HANDLE b) {
    BY_HANDLE_FILE_INFORMATION x{}, y{};
    return ::GetFileInformationByHandle(a, &x) && ::GetFileInformationByHandle(b, &y) &&
           x.dwVolumeSerialNumber == y.dwVolumeSerialNumber &&
           x.nFileIndexHigh == y.nFileIndexHigh && x.nFileIndexLow == y.nFileIndexLow;
}

int lockHandle(HANDLE handle, std::uint64_t offset, int operation) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    if ((operation & LOCK_UN) != 0) {
        if (!::UnlockFileEx(handle, 0, 1, 0, &at)) return failFromLastError();
        return 0;
    }
    DWORD flags = (operation & LOCK_EX) != 0 ? LOCKFILE_EXCLUSIVE_LOCK : 0;
    if ((operation & LOCK_NB) != 0) flags |= LOCKFILE_FAIL_IMMEDIATELY;
    if (!::LockFileEx(handle, flags, 0, 1, 0, &at)) {
        const DWORD error = ::GetLastError();
        errno = error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING
                    ? EWOULDBLOCK
                    : win32::errnoFromWin32(error);
        return -1;
    }
    return 0;
}

// Closes a folder's lock file, removing it when no other process holds a lock
// on it: its own lock is given back first, so that a lock
// of its byte shows whether another holds one. The file goes once its last handle is closed;
// until then it cannot be opened (see Posix::flock).
void closeFolderLock(HANDLE lockFile) {
    lockHandle(lockFile, 0, LOCK_UN);
    if (lockHandle(lockFile, 0, LOCK_EX | LOCK_NB) == 0) {
        FILE_DISPOSITION_INFO remove{};
        remove.DeleteFile = TRUE;
        ::SetFileInformationByHandle(lockFile, FileDispositionInfo, &remove, sizeof remove);
    }
    ::CloseHandle(lockFile);
}

// Renames with POSIX semantics: the name goes over a file that is still open
// (with FILE_SHARE_DELETE, as this seam opens every file), whose open handles
// keep the old file, as a rewrite needs. False, with the error, where the file
// system cannot (FAT, an older Windows).
bool renamePosixStyle(const std::wstring& from, const std::wstring& to, DWORD& error) {
    const HANDLE source =
        ::CreateFileW(from.c_str(), DELETE | SYNCHRONIZE, kShareAll, nullptr, OPEN_EXISTING,
                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (source == INVALID_HANDLE_VALUE) {
        error = ::GetLastError();
        return false;
    }
    // The kernel takes the target's full NT name: "\??\" where Win32 has "\\?\".
    std::wstring target = to;
    target[1] = L'?';
    const std::size_t nameAt = offsetof(FILE_RENAME_INFO, FileName);
    const std::size_t bytes = nameAt + (target.size() + 1) * sizeof(wchar_t);
    std::vector<unsigned char> buffer(std::max(bytes, sizeof(FILE_RENAME_INFO)));
    FILE_RENAME_INFO info{};
    info.Flags = FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS;
    info.RootDirectory = nullptr;
    info.FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    std::memcpy(buffer.data(), &info, nameAt);
    std::memcpy(buffer.data() + nameAt, target.c_str(), (target.size() + 1) * sizeof(wchar_t));
    const bool renamed =
        ::SetFileInformationByHandle(
            source, static_cast<FILE_INFO_BY_HANDLE_CLASS>(22) /* FileRenameInfoEx */,
            buffer.data(), static_cast<DWORD>(buffer.size())) != 0;
    error = renamed ? 0 : ::GetLastError();
    ::CloseHandle(source);
    return renamed;
}

// The seam's fsync(): one call whichever of the seam's methods flushes.
int flushHandle(int fd) {
    const Open* open = entry(fd);
    if (open == nullptr) return -1;
    if (open->directory) return 0;
    if (!::FlushFileBuffers(open->handle)) return failFromLastError();
    return 0;
}

// Removes a name of a read-only file. POSIX removes a name whatever the file's
// mode, and the program refuses read-only files itself where it must (FileOps);
// Windows refuses to delete a read-only file. The attribute belongs to the
// file, which other hard links may still name (an aside link, say), so it is
// taken off through a handle, the name is marked for deletion, and the
// attribute is put back before the handle closes and the name goes. False
// where the file is no read-only file or this fails; the attribute then stays.
bool unlinkReadOnly(const std::wstring& path) {
    const HANDLE handle =
        ::CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                      kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    FILE_BASIC_INFO basic{};
    bool removed = false;
    if (::GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) &&
        (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) != 0 &&
        (basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        // Zero times leave the times as they are.
        basic.CreationTime.QuadPart = basic.LastAccessTime.QuadPart = 0;
        basic.LastWriteTime.QuadPart = basic.ChangeTime.QuadPart = 0;
        FILE_BASIC_INFO writable = basic;
        writable.FileAttributes &= ~DWORD{FILE_ATTRIBUTE_READONLY};
        if (writable.FileAttributes == 0) writable.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        if (::SetFileInformationByHandle(handle, FileBasicInfo, &writable, sizeof writable)) {
            FILE_DISPOSITION_INFO dispose{};
            dispose.DeleteFile = TRUE;
            removed = ::SetFileInformationByHandle(handle, FileDispositionInfo, &dispose,
                                                   sizeof dispose) != 0;
            ::SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic);
        }
    }
    ::CloseHandle(handle);
    return removed;
}

}  // namespace

int Posix::open(const char* path, int flags, mode_t mode) {
    const int access = flags & O_ACCMODE;
    const bool writing = access != O_RDONLY || (flags & O_TRUNC) != 0;
    DWORD desired = access == O_WRONLY ? GENERIC_WRITE
                    : access == O_RDWR ? GENERIC_READ | GENERIC_WRITE
                                       : GENERIC_READ;
    DWORD disposition = OPEN_EXISTING;
    if ((flags & O_CREAT) != 0) {
        disposition = (flags & O_EXCL) != 0    ? CREATE_NEW
                      : (flags & O_TRUNC) != 0 ? CREATE_ALWAYS
                                               : OPEN_ALWAYS;
    } else if ((flags & O_TRUNC) != 0) {
        disposition = TRUNCATE_EXISTING;
    }
    // Backup semantics lets a folder be opened at all: to sync it, lock it, or
    // learn that it is one.
    DWORD attributes = FILE_FLAG_BACKUP_SEMANTICS;
    if ((flags & O_NOFOLLOW) != 0) attributes |= FILE_FLAG_OPEN_REPARSE_POINT;
    attributes |= (flags & O_CREAT) != 0 && (mode & S_IWUSR) == 0 ? FILE_ATTRIBUTE_READONLY
                                                                  : FILE_ATTRIBUTE_NORMAL;
    const std::wstring wide = widePath(path);
    const HANDLE handle =
        ::CreateFileW(wide.c_str(), desired, kShareAll, nullptr, disposition, attributes, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        const DWORD found = ::GetFileAttributesW(wide.c_str());
        if (error == ERROR_ACCESS_DENIED && found != INVALID_FILE_ATTRIBUTES &&
            (found & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            errno = EISDIR;
            return -1;
        }
        errno = win32::errnoFromWin32(error);
        return -1;
    }
    struct stat st {};
    int refusal = statHandle(handle, &st) != 0 ? errno : 0;
    if (refusal == 0) {
        if (S_ISLNK(st.st_mode)) {
            refusal = ELOOP;
        } else if (S_ISDIR(st.st_mode) && writing) {
            refusal = EISDIR;
        } else if (!S_ISDIR(st.st_mode) && (flags & O_DIRECTORY) != 0) {
            refusal = ENOTDIR;
        }
    }
    if (refusal != 0) {
        ::CloseHandle(handle);
        errno = refusal;
        return -1;
    }
    return addHandle(handle, S_ISDIR(st.st_mode));
}

ssize_t Posix::read(int fd, void* buffer, size_t count) {
    const HANDLE handle = handleOf(fd);
    if (handle == INVALID_HANDLE_VALUE) return -1;
    DWORD got = 0;
    const auto want = static_cast<DWORD>(std::min<size_t>(count, 1u << 30));
    if (!::ReadFile(handle, buffer, want, &got, nullptr)) {
        if (::GetLastError() == ERROR_HANDLE_EOF || ::GetLastError() == ERROR_BROKEN_PIPE) return 0;
        return failFromLastError();
    }
    return static_cast<ssize_t>(got);
}

ssize_t Posix::pread(int fd, void* buffer, size_t count, off_t offset) {
    const HANDLE handle = handleOf(fd);
    if (handle == INVALID_HANDLE_VALUE) return -1;
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset));
    at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
    DWORD got = 0;
    const auto want = static_cast<DWORD>(std::min<size_t>(count, 1u << 30));
    if (!::ReadFile(handle, buffer, want, &got, &at)) {
        if (::GetLastError() == ERROR_HANDLE_EOF) return 0;
        return failFromLastError();
    }
    return static_cast<ssize_t>(got);
}

ssize_t Posix::pwrite(int fd, const void* buffer, size_t count, off_t offset) {
    const HANDLE handle = handleOf(fd);
    if (handle == INVALID_HANDLE_VALUE) return -1;
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset));
    at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
    DWORD put = 0;
    const auto want = static_cast<DWORD>(std::min<size_t>(count, 1u << 30));
    if (!::WriteFile(handle, buffer, want, &put, &at)) return failFromLastError();
    return static_cast<ssize_t>(put);
}

int Posix::ftruncate(int fd, off_t length) {
    const HANDLE handle = handleOf(fd);
    if (handle == INVALID_HANDLE_VALUE) return -1;
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = length;
    if (!::SetFileInformationByHandle(handle, FileEndOfFileInfo, &end, sizeof end))
        return failFromLastError();
    return 0;
}

// Win32 has no copy of a range between two open files: the caller copies by
// reading and writing.
ssize_t Posix::copyFileRange(int, off_t*, int, off_t*, size_t) {
    errno = ENOSYS;
    return -1;
}

// FlushFileBuffers writes a file's data and its own metadata (size, times) to
// disk. Windows has no flush of a folder: a folder handle opened for reading
// cannot be flushed. A rename on NTFS is a change of metadata recorded in its
// log, which NTFS writes to disk by itself within seconds, in order; a flush of
// a file writes the log up to that file's last change, and with it the renames
// before it (how NTFS behaves; Windows does not document it as a promise). So a
// folder's sync succeeds with no promise of its own: a rename that a power loss
// takes back leaves the old name with its whole old content.
int Posix::fsync(int fd) {
    return flushHandle(fd);
}

// NTFS keeps no separate flush of the data alone for a program to call: the
// whole file is flushed.
int Posix::fdatasync(int fd) {
    return flushHandle(fd);
}

// No call flushes a set of files, or a volume without administrator rights:
// each file is flushed, folders as fsync() says. The first failure stops.
int Posix::flushFiles(std::span<const int> fds) {
    for (const int fd : fds)
        if (flushHandle(fd) != 0) return -1;
    return 0;
}

int Posix::close(int fd) {
    Open closing;
    {
        const std::lock_guard lock(tableMutex);
        if (fd < 0 || static_cast<std::size_t>(fd) >= table.size() ||
            table[static_cast<std::size_t>(fd)].handle == INVALID_HANDLE_VALUE) {
            errno = EBADF;
            return -1;
        }
        closing = std::exchange(table[static_cast<std::size_t>(fd)], Open{});
    }
    if (closing.lockFile != INVALID_HANDLE_VALUE) closeFolderLock(closing.lockFile);
    if (!::CloseHandle(closing.handle)) return failFromLastError();
    return 0;
}

int Posix::fstat(int fd, struct stat* st) {
    const HANDLE handle = handleOf(fd);
    if (handle == INVALID_HANDLE_VALUE) return -1;
    return statHandle(handle, st);
}

int Posix::stat(const char* path, struct stat* st) {
    return statPath(path, st, true);
}

int Posix::lstat(const char* path, struct stat* st) {
    return statPath(path, st, false);
}

int Posix::chmod(const char* path, mode_t mode) {
    const std::wstring wide = widePath(path);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return failFromLastError();
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return 0;  // no read-only folders
    DWORD wanted = (mode & S_IWUSR) != 0 ? attributes & ~DWORD{FILE_ATTRIBUTE_READONLY}
                                         : attributes | FILE_ATTRIBUTE_READONLY;
    if (wanted == attributes) return 0;
    if (wanted == 0) wanted = FILE_ATTRIBUTE_NORMAL;
    if (!::SetFileAttributesW(wide.c_str(), wanted)) return failFromLastError();
    return 0;
}

int Posix::fchmod(int fd, mode_t mode) {
    const HANDLE handle = handleOf(fd);
    if (handle == INVALID_HANDLE_VALUE) return -1;
    FILE_BASIC_INFO basic{};
    if (!::GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic))
        return failFromLastError();
    if ((basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return 0;
    const DWORD wanted = (mode & S_IWUSR) != 0
                             ? basic.FileAttributes & ~DWORD{FILE_ATTRIBUTE_READONLY}
                             : basic.FileAttributes | FILE_ATTRIBUTE_READONLY;
    if (wanted == basic.FileAttributes) return 0;
    basic.FileAttributes = wanted == 0 ? FILE_ATTRIBUTE_NORMAL : wanted;
    // Zero times leave the times as they are.
    basic.CreationTime.QuadPart = basic.LastAccessTime.QuadPart = 0;
    basic.LastWriteTime.QuadPart = basic.ChangeTime.QuadPart = 0;
    if (!::SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic))
        return failFromLastError();
    return 0;
}

// Windows has no POSIX owners: every file is the process's own (uid 0 in its
// struct stat), and giving one away is not possible.
int Posix::fchown(int fd, uid_t owner, gid_t group) {
    if (handleOf(fd) == INVALID_HANDLE_VALUE) return -1;
    if (owner == 0 && group == 0) return 0;
    errno = EPERM;
    return -1;
}

int Posix::chown(const char* path, uid_t owner, gid_t group) {
    struct stat st {};
    if (stat(path, &st) != 0) return -1;
    if (owner == 0 && group == 0) return 0;
    errno = EPERM;
    return -1;
}

// A folder's lock is taken on its lock file. The last holder removes that file
// when it closes the folder (closeFolderLock), so the files do not pile up; a
// locker that opened the file just before it went may thus hold a lock on a
// file without a name, which nobody else sees, so the lock counts only when
// the name still leads to the file locked, and is taken again otherwise.
int Posix::flock(int fd, int operation) {
    Open* open = entry(fd);
    if (open == nullptr) return -1;
    if (!open->directory) return lockHandle(open->handle, kLockOffset, operation);
    if (open->lockFile != INVALID_HANDLE_VALUE) return lockHandle(open->lockFile, 0, operation);
    if ((operation & LOCK_UN) != 0) return 0;
    const std::wstring name = folderLockFileName(open->handle);
    if (name.empty()) {
        errno = ENOLCK;
        return -1;
    }
    for (int attempt = 0; attempt < 1000; ++attempt) {
        // A file whose removal is under way cannot be opened until it is gone.
        const HANDLE lockFile =
            ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, kShareAll, nullptr,
                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (lockFile == INVALID_HANDLE_VALUE) {
            if (::GetLastError() != ERROR_ACCESS_DENIED) break;
            ::Sleep(1);
            continue;
        }
        if (lockHandle(lockFile, 0, operation) != 0) {
            const int err = errno;
            ::CloseHandle(lockFile);
            errno = err;
            return -1;
        }
        const HANDLE named = ::CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        const bool current = named != INVALID_HANDLE_VALUE && sameFile(named, lockFile);
        if (named != INVALID_HANDLE_VALUE) ::CloseHandle(named);
        if (current) {
            const std::lock_guard lock(tableMutex);
            open->lockFile = lockFile;
            return 0;
        }
        ::CloseHandle(lockFile);  // which gives its lock back
    }
    errno = ENOLCK;
    return -1;
}

int Posix::rename(const char* from, const char* to) {
    const std::wstring source = widePath(from);
    const std::wstring target = widePath(to);
    DWORD error = 0;
    if (renamePosixStyle(source, target, error)) return 0;
    if (error != ERROR_INVALID_PARAMETER && error != ERROR_NOT_SUPPORTED &&
        error != ERROR_INVALID_FUNCTION) {
        errno = win32::errnoFromWin32(error);
        return -1;
    }
    // The file system has no POSIX renames: a plain one, which a target that
    // is open refuses.
    if (!::MoveFileExW(source.c_str(), target.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return failFromLastError();
    return 0;
}

int Posix::unlink(const char* path) {
    const std::wstring wide = widePath(path);
    if (::DeleteFileW(wide.c_str())) return 0;
    const DWORD error = ::GetLastError();
    if (error == ERROR_ACCESS_DENIED && unlinkReadOnly(wide)) return 0;
    errno = win32::errnoFromWin32(error);
    return -1;
}

int Posix::access(const char* path, int mode) {
    const DWORD attributes = ::GetFileAttributesW(widePath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return failFromLastError();
    if ((mode & W_OK) != 0 && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
        (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        errno = EACCES;
        return -1;
    }
    return 0;
}

int Posix::link(const char* from, const char* to) {
    if (!::CreateHardLinkW(widePath(to).c_str(), widePath(from).c_str(), nullptr))
        return failFromLastError();
    return 0;
}

int Posix::realpath(const char* path, std::string& resolved) {
    const HANDLE handle =
        ::CreateFileW(widePath(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return failFromLastError();
    std::wstring final(MAX_PATH, L'\0');
    DWORD size = 0;
    for (;;) {
        size = ::GetFinalPathNameByHandleW(handle, final.data(), static_cast<DWORD>(final.size()),
                                           FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (size == 0 || size < final.size()) break;
        final.resize(size);
    }
    const DWORD error = ::GetLastError();
    ::CloseHandle(handle);
    if (size == 0) {
        errno = win32::errnoFromWin32(error);
        return -1;
    }
    final.resize(size);
    resolved = win32::programPath(final);
    return 0;
}

int Posix::listDirectory(const char* path, std::vector<DirEntry>& entries) {
    std::wstring pattern = widePath(path);
    if (pattern.back() != L'\\') pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW found{};
    const HANDLE find =
        ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                           FIND_FIRST_EX_LARGE_FETCH);
    entries.clear();
    if (find == INVALID_HANDLE_VALUE) {
        // A drive's empty root has not even "." and "..".
        if (::GetLastError() == ERROR_FILE_NOT_FOUND) return 0;
        return failFromLastError();
    }
    const std::string folder =
        std::string(path) + (std::string_view(path).ends_with('/') ? "" : "/");
    do {
        const std::wstring_view wideName = found.cFileName;
        if (wideName == L"." || wideName == L"..") continue;
        std::string name = toUtf8(std::u16string(wideName.begin(), wideName.end()));
        const DWORD attributes = found.dwFileAttributes;
        // Hidden and system entries count as system ones: no lookup shows them.
        if ((attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0) {
            entries.push_back({std::move(name), EntryKind::Other, 0, 0});
            continue;
        }
        const bool link =
            (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && isLinkTag(found.dwReserved0);
        if (!link && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            entries.push_back({std::move(name), EntryKind::File, 0, 0});
            continue;
        }
        // Folders need their identity, links where they lead.
        if (struct stat st{}; stat((folder + name).c_str(), &st) == 0) {
            entries.push_back(entryFromStat(std::move(name), st));
        } else {
            const int followError = errno;
            entries.push_back({std::move(name), link ? EntryKind::BrokenLink : EntryKind::Other, 0,
                               0, link ? followError : 0});
        }
    } while (::FindNextFileW(find, &found));
    const DWORD error = ::GetLastError();
    ::FindClose(find);
    if (error == ERROR_NO_MORE_FILES) return 0;
    errno = win32::errnoFromWin32(error);
    return -1;
}

int Posix::readDirectory(const char* path, std::vector<ListedEntry>& entries) {
    // The listing gives no inode numbers here: folders and links are for the
    // caller to look at.
    std::vector<DirEntry> listed;
    if (listDirectory(path, listed) != 0) return -1;
    entries.clear();
    for (DirEntry& e : listed) {
        const ListedEntry::Type type = e.kind == EntryKind::File    ? ListedEntry::Type::File
                                       : e.kind == EntryKind::Other ? ListedEntry::Type::Other
                                                                    : ListedEntry::Type::Unknown;
        entries.push_back({std::move(e.name), type, 0});
    }
    return 0;
}

Posix& systemPosix() {
    static Posix real;
    return real;
}

}  // namespace kestrom::platform
