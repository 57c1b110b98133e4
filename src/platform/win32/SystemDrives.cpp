// SPDX-License-Identifier: GPL-3.0-or-later
#include <windows.h>

#include "platform/Drives.h"
#include "platform/win32/Win32.h"

namespace kestrom::platform {

// The drive letters in use, as their roots ("C:/", "D:/"), in the system's
// order; the home folder is on one of them.
std::vector<std::string> systemDrives(Posix&, std::string_view) {
    std::wstring buffer(128, L'\0');
    for (;;) {
        const DWORD size =
            ::GetLogicalDriveStringsW(static_cast<DWORD>(buffer.size()), buffer.data());
        if (size == 0) return {};
        if (size < buffer.size()) {
            buffer.resize(size);
            break;
        }
        buffer.resize(size + 1);
    }
    std::vector<std::string> drives;
    for (std::size_t at = 0; at < buffer.size();) {
        const std::size_t end = buffer.find(L'\0', at);
        const std::wstring_view root =
            std::wstring_view(buffer).substr(at, end == std::wstring::npos ? end : end - at);
        if (!root.empty()) drives.push_back(win32::programPath(root));
        if (end == std::wstring::npos) break;
        at = end + 1;
    }
    return drives;
}

}  // namespace kestrom::platform
