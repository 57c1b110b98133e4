// SPDX-License-Identifier: GPL-3.0-or-later
#include <windows.h>

#include <algorithm>

#include "platform/Text.h"
#include "platform/win32/Win32.h"

namespace kestrom::platform::win32 {
namespace {

bool isDrive(std::wstring_view path) {
    return path.size() == 2 && path[1] == L':' &&
           ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'));
}

std::wstring fromText(std::u16string_view text) {
    return std::wstring(text.begin(), text.end());
}

}  // namespace

std::wstring widePath(std::string_view path) {
    std::wstring wide = fromText(toUtf16(path));
    std::replace(wide.begin(), wide.end(), L'/', L'\\');
    if (wide.starts_with(LR"(\\?\)")) return wide;
    if (isDrive(wide)) wide += L'\\';
    // GetFullPathNameW resolves "." and ".." and the current folder, by the text
    // alone; its result then needs no more of Win32's path rewriting.
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD size =
            ::GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (size == 0) return wide;  // the call below then fails with the reason
        if (size < full.size()) {
            full.resize(size);
            break;
        }
        full.resize(size);
    }
    if (full.starts_with(LR"(\\.\)") || full.starts_with(LR"(\\?\)")) return full;
    if (full.starts_with(LR"(\\)")) return LR"(\\?\UNC\)" + full.substr(2);
    return LR"(\\?\)" + full;
}

std::string programPath(std::wstring_view path) {
    std::wstring text(path);
    if (text.starts_with(LR"(\\?\UNC\)")) {
        text = LR"(\\)" + text.substr(8);
    } else if (text.starts_with(LR"(\\?\)")) {
        text = text.substr(4);
    }
    std::replace(text.begin(), text.end(), L'\\', L'/');
    return toUtf8(std::u16string(text.begin(), text.end()));
}

}  // namespace kestrom::platform::win32
