// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

// Loading a shared library at run time: dlopen on Linux, LoadLibraryExW on
// Windows. A library, once loaded, stays for the life of the process.
namespace kestrom::platform {

// Loads the library at path. On Windows the DLL is taken from that path only,
// and the DLLs it needs from its own folder and the system's, never from the
// current folder or the search path. nullptr on failure, reason then holding
// the loader's words for it.
void* loadLibrary(const std::string& path, std::string& reason);

// The address of an exported function, or nullptr when the library has none of
// that name.
void* librarySymbol(void* library, const char* name);

}  // namespace kestrom::platform
