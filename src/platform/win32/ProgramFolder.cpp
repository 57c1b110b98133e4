// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ProgramFolder.h"

#include <windows.h>

#include "platform/win32/Win32.h"

namespace kestrom::platform {

std::string programFolder(Posix& posix) {
    std::wstring module(MAX_PATH, L'\0');
    for (;;) {
        const DWORD size =
            ::GetModuleFileNameW(nullptr, module.data(), static_cast<DWORD>(module.size()));
        if (size == 0) return {};
        if (size < module.size()) {
            module.resize(size);
            break;
        }
        module.resize(module.size() * 2);
    }
    std::string path;
    if (posix.realpath(win32::programPath(module).c_str(), path) != 0) return {};
    return path.substr(0, path.rfind('/') + 1);
}

}  // namespace kestrom::platform
