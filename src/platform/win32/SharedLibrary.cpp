// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/SharedLibrary.h"

#include <windows.h>

#include "platform/Text.h"
#include "platform/win32/Win32.h"

namespace kestrom::platform {
namespace {

// The system's words for a Win32 error, in the user's language, on one line.
std::string describe(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::u16string words;
    if (length != 0 && text != nullptr) words.assign(text, text + length);
    ::LocalFree(text);
    while (!words.empty() &&
           (words.back() == u'\n' || words.back() == u'\r' || words.back() == u' '))
        words.pop_back();
    if (words.empty()) return "Win32 error " + std::to_string(error);
    return toUtf8(words);
}

}  // namespace

void* loadLibrary(const std::string& path, std::string& reason) {
    const HMODULE library =
        ::LoadLibraryExW(win32::widePath(path).c_str(), nullptr,
                         LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (library == nullptr) reason = describe(::GetLastError());
    return reinterpret_cast<void*>(library);
}

void* librarySymbol(void* library, const char* name) {
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(library), name));
}

}  // namespace kestrom::platform
