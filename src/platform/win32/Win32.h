// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

// What the Win32 implementations of the platform layer share: paths as Win32
// takes them, and Win32 errors as the errno values the program reports.
namespace kestrom::platform::win32 {

// The path as the wide Win32 calls take it: UTF-16 (bytes that are no UTF-8 as
// the lone surrogates toUtf16 gives them), "/" as "\", made absolute against
// the current folder with "." and ".." resolved, and prefixed with "\\?\" (or
// "\\?\UNC\" for a share), so that no length limit and no renaming of
// reserved names applies. A bare drive, "C:", is that drive's root: the program
// only ever forms it by taking the last name off "C:/name".
std::wstring widePath(std::string_view path);

// A path that Win32 gave back, as the program spells paths: UTF-8, "/" between
// names, without the "\\?\" prefix ("C:/Music", "//server/share/Music").
std::string programPath(std::wstring_view path);

// The errno value for a Win32 error code (GetLastError()).
int errnoFromWin32(unsigned long error);

// Sets errno from GetLastError() and returns -1: the seam's way to fail.
int failFromLastError();

}  // namespace kestrom::platform::win32
