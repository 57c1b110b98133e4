// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#ifdef _WIN32
#include <windows.h>
#endif

namespace kestrom::test {

// Whether the tests run under wine, which differs from Windows in what the
// tests must then skip: a file that is open cannot be renamed over, read-only
// files can be replaced, a move with write-through is a plain rename.
inline bool underWine() {
#ifdef _WIN32
    return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
#else
    return false;
#endif
}

// The reason the tests give for what wine cannot do.
inline constexpr const char* kWineKeepsOpenFiles =
    "a rewrite renames over the file it holds open, which wine refuses";

}  // namespace kestrom::test
