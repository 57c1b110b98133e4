// SPDX-License-Identifier: GPL-3.0-or-later
#include <shlobj.h>

#include <algorithm>
#include <exception>
#include <utility>

#include "engine/Messages.h"
#include "engine/Run.h"
#include "ui/win32/Controls.h"
#include "ui/win32/Texts.h"
#include "ui/win32/Windows.h"

namespace kestrom::ui::win32 {
namespace {

constexpr COLORREF kBackground = RGB(64, 64, 64);
constexpr COLORREF kLightGrey = RGB(224, 224, 224);
constexpr COLORREF kCyan = RGB(0, 192, 192);
constexpr COLORREF kLightBlue = RGB(128, 128, 255);
constexpr COLORREF kGreen = RGB(0, 255, 0);
constexpr COLORREF kWhite = RGB(255, 255, 255);

// The desktop folder with a backslash at its end, where the boxes start.
std::wstring desktopFolder() {
    PWSTR path = nullptr;
    std::wstring folder = L"C:\\";
    if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_Desktop, 0, nullptr, &path)))
        folder = std::wstring(path) + L"\\";
    ::CoTaskMemFree(path);
    return folder;
}

COLORREF labelColour(int id) {
    switch (id) {
        case kLabel2:
        case kLabel3: return kCyan;
        case kLabel4: return kLightBlue;
        case kLabel4 + 1: return kGreen;
        case kCheck1: return kWhite;
        default: return kLightGrey;
    }
}

}  // namespace

std::wstring shownPath(const std::string& path) {
    std::wstring shown = wide(path);
    std::replace(shown.begin(), shown.end(), L'/', L'\\');
    return shown;
}

std::string programPath(const std::wstring& shown) {
    std::string path = utf8(shown);
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

void showMessage(HWND owner, const std::string& text) {
    ::MessageBoxW(owner, wide(text).c_str(), L"Kestrom", MB_OK);
}

Main::Main(platform::Posix& posix, std::string tagLibraryPath)
    : m_posix(posix),
      m_tagLibrary(std::move(tagLibraryPath)),
      m_background(::CreateSolidBrush(kBackground)) {
    const HICON icon = ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1));
    create(kMainClass, L"Kestrom Ver." KESTROM_VERSION_WIDE, layout::kMain, nullptr,
           WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN, 0, false, icon);
    ::SetClassLongPtrW(handle(), GCLP_HBRBACKGROUND, reinterpret_cast<LONG_PTR>(m_background));

    // Made in tab order; labels take no focus.
    const std::wstring desktop = desktopFolder();
    const DWORD box = WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL;
    const DWORD button = WS_TABSTOP | BS_PUSHBUTTON;
    for (int i = 0; i < 2; ++i) {
        addControl(L"Edit", desktop.c_str(), box, kText1 + i, layout::kText1[i]);
        addControl(L"Button", say(texts::kBrowse).c_str(), button, kCommand1 + i,
                   layout::kCommand1[i]);
    }
    addControl(L"Button", say(texts::kExecute).c_str(), button, kCommand2, layout::kCommand2);
    addControl(L"Button", say(texts::kQuit).c_str(), button, kCommand3, layout::kCommand3);
    fitToText(addControl(L"Button", say(texts::kReplace).c_str(), WS_TABSTOP | BS_AUTOCHECKBOX,
                         kCheck1, layout::kCheck1),
              20);
    const DWORD label = SS_LEFT | SS_NOPREFIX;
    addControl(L"Static", say(texts::kSource).c_str(), label, kLabel1, layout::kLabel1[0]);
    addControl(L"Static", say(texts::kTarget).c_str(), label, kLabel1 + 1, layout::kLabel1[1]);
    addControl(L"Static", L"0000 / 0000", label, kLabel2, layout::kLabel2, 2);
    addControl(L"Static", L"OK / NG", label, kLabel3, layout::kLabel3, 1);
    addControl(L"Static", say(texts::kTeam).c_str(), label, kLabel4, layout::kLabel4[0], 1);
    addControl(L"Static", L"Programmed by", label, kLabel5, layout::kLabel5[0]);
    addControl(L"Static", L"Powered by", label, kLabel5 + 1, layout::kLabel5[1]);
    addControl(L"Static", say(texts::kLibraryTeam).c_str(), label, kLabel4 + 1, layout::kLabel4[1],
               1);
}

int Main::run() {
    ::ShowWindow(handle(), SW_SHOWDEFAULT);
    ::SetFocus(item(kText1));
    MSG message{};
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!::IsDialogMessageW(handle(), &message)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
    return static_cast<int>(message.wParam);
}

std::string Main::libraryFolderText() {
    return programPath(windowText(item(kText1)));
}

std::string Main::workFolderText() {
    return programPath(windowText(item(kText1 + 1)));
}

bool Main::replaceFlag() {
    return ::SendMessageW(item(kCheck1), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void Main::message(const std::string& text) {
    showMessage(handle(), text);
}

void Main::counterText(const std::string& text) {
    ::SetWindowTextW(item(kLabel2), wide(text).c_str());
    // The run holds the message loop until it ends, so the label is painted now.
    ::RedrawWindow(item(kLabel2), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

void Main::finish() {
    ::SetFocus(item(kCommand3));
}

void Main::showErrorList() {
    Dialog1 errorList(handle());
    errorList.exec();
}

void Main::Command1_Click(int Index) {
    const HWND box = item(kText1 + Index);
    PickedPath = windowText(box);
    {
        Dialog picker(handle(), m_posix);
        picker.exec();
    }
    if (!PickedPath.empty()) ::SetWindowTextW(box, PickedPath.c_str());
}

void Main::Command2_Click() {
    // A failure the run does not handle itself must not end the program with
    // nothing said.
    try {
        engine::runTransfer(*this, m_tagLibrary, {}, m_posix);
    } catch (const std::exception& error) {
        showMessage(handle(),
                    platform::format(windowLanguage()(engine::texts::kStopped), {error.what()}));
    }
}

void Main::Command3_Click() {
    ::DestroyWindow(handle());
}

LRESULT Main::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CTLCOLORSTATIC: {
            // Labels and the check box on the window's dark grey, each in its colour.
            const auto dc = reinterpret_cast<HDC>(wParam);
            ::SetTextColor(dc, labelColour(::GetDlgCtrlID(reinterpret_cast<HWND>(lParam))));
            ::SetBkColor(dc, kBackground);
            return reinterpret_cast<LRESULT>(m_background);
        }
        case WM_COMMAND:
            if (HIWORD(wParam) != BN_CLICKED) break;
            switch (LOWORD(wParam)) {
                case kCommand1:
                case kCommand1 + 1: Command1_Click(LOWORD(wParam) - kCommand1); return 0;
                case kCommand2: Command2_Click(); return 0;
                case kCommand3: Command3_Click(); return 0;
                default: break;
            }
            break;
        case WM_CLOSE: Command3_Click(); return 0;
        case WM_DESTROY:
            ::DeleteObject(m_background);
            ::PostQuitMessage(0);
            return 0;
        default: break;
    }
    return Frame::handleMessage(message, wParam, lParam);
}

}  // namespace kestrom::ui::win32
