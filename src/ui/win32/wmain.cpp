// SPDX-License-Identifier: GPL-3.0-or-later
// Kestrom.exe: no command line is read; the main window opens and the program
// ends when it is closed.
#include <windows.h>

#include <cstring>

#include "binding/Vbmp3.h"
#include "platform/Posix.h"
#include "ui/win32/Windows.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // The layout is in twips: each window lays itself out for the scale of the
    // monitor it is on, and again when it moves to another.
    using SetAwareness = BOOL(WINAPI*)(HANDLE);
    const FARPROC address =
        ::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext");
    if (address != nullptr) {
        SetAwareness setAwareness = nullptr;
        std::memcpy(&setAwareness, &address, sizeof setAwareness);
        setAwareness(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    }
    // The program's one way to the file system, handed to all that uses it.
    kestrom::platform::Posix& posix = kestrom::platform::systemPosix();
    kestrom::ui::win32::Main window(posix, kestrom::binding::findTagLibrary(posix));
    return window.run();
}
