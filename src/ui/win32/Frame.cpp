// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/win32/Frame.h"

#include <algorithm>
#include <cstring>

#include "platform/Text.h"
#include "platform/UserLanguage.h"

namespace kestrom::ui::win32 {

std::wstring wide(std::string_view utf8) {
    const std::u16string text = platform::toUtf16(utf8);
    return {text.begin(), text.end()};
}

std::string utf8(std::wstring_view text) {
    return platform::toUtf8(std::u16string(text.begin(), text.end()));
}

std::wstring windowText(HWND window) {
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        ::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

const platform::Language& windowLanguage() {
    static const platform::Language& language =
        platform::userPrefersJapanese() ? platform::japanese() : platform::english();
    return language;
}

std::wstring say(const platform::Text& text) {
    return wide(windowLanguage()(text));
}

namespace {

// Twips from the client area's left edge to the windows' first column, where
// their labels start.
constexpr int kLeftColumn = 120;

struct FoundFaces {
    std::wstring first;
    std::wstring proportional;
};

int CALLBACK noteFace(const LOGFONTW* font, const TEXTMETRICW*, DWORD, LPARAM found) {
    // Faces whose name begins with "@" are the same faces turned for vertical text.
    if (font->lfFaceName[0] == L'@') return 1;
    auto& faces = *reinterpret_cast<FoundFaces*>(found);
    if (faces.first.empty()) faces.first = font->lfFaceName;
    if ((font->lfPitchAndFamily & 0x3) == VARIABLE_PITCH) {
        faces.proportional = font->lfFaceName;
        return 0;
    }
    return 1;
}

// The installed face of that name, or with face empty the first proportional
// one with the character set (else the first of any pitch); empty when there
// is none.
std::wstring installedFace(const wchar_t* face, BYTE charSet) {
    LOGFONTW wanted{};
    wanted.lfCharSet = charSet;
    ::wcsncpy(wanted.lfFaceName, face, LF_FACESIZE - 1);
    FoundFaces found;
    const HDC screen = ::GetDC(nullptr);
    ::EnumFontFamiliesExW(screen, &wanted, noteFace, reinterpret_cast<LPARAM>(&found), 0);
    ::ReleaseDC(nullptr, screen);
    return found.proportional.empty() ? found.first : found.proportional;
}

// What the system offers from Windows 10 on, looked up so that the program
// still starts where it is missing (then it lays out for 96 dots per inch).
template <typename Fn>
Fn user32(const char* name) {
    const FARPROC address = ::GetProcAddress(::GetModuleHandleW(L"user32.dll"), name);
    Fn fn = nullptr;
    static_assert(sizeof fn == sizeof address);
    std::memcpy(&fn, &address, sizeof fn);
    return fn;
}

UINT dpiOf(HWND window) {
    static const auto getDpiForWindow = user32<UINT(WINAPI*)(HWND)>("GetDpiForWindow");
    const UINT dpi = getDpiForWindow != nullptr ? getDpiForWindow(window) : 0;
    return dpi != 0 ? dpi : 96;
}

RECT frameFor(int width, int height, DWORD style, DWORD exStyle, UINT dpi) {
    static const auto adjustForDpi =
        user32<BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT)>("AdjustWindowRectExForDpi");
    RECT rect{0, 0, width, height};
    if (adjustForDpi == nullptr || !adjustForDpi(&rect, style, FALSE, exStyle, dpi))
        ::AdjustWindowRectEx(&rect, style, FALSE, exStyle);
    return rect;
}

}  // namespace

const std::wstring& japaneseFace() {
    static const std::wstring face = [] {
        for (const wchar_t* name : {L"Yu Gothic UI", L"Meiryo UI", L"MS UI Gothic"})
            if (!installedFace(name, DEFAULT_CHARSET).empty()) return std::wstring(name);
        std::wstring any = installedFace(L"", SHIFTJIS_CHARSET);
        return any.empty() ? std::wstring(L"MS Shell Dlg") : any;
    }();
    return face;
}

std::wstring faceOr(const wchar_t* face, const std::wstring& fallback) {
    return installedFace(face, DEFAULT_CHARSET).empty() ? fallback : std::wstring(face);
}

Frame::~Frame() {
    if (m_window != nullptr) ::DestroyWindow(m_window);
    for (HFONT font : m_fonts)
        if (font != nullptr) ::DeleteObject(font);
}

int Frame::pixels(int twips) const {
    return ::MulDiv(twips, static_cast<int>(m_dpi), 1440);
}

void Frame::create(const wchar_t* className, const wchar_t* caption, layout::Size size, HWND owner,
                   DWORD style, DWORD exStyle, bool placed, HICON icon) {
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    if (!::GetClassInfoExW(instance, className, &windowClass)) {
        windowClass.lpfnWndProc = procedure;
        windowClass.hInstance = instance;
        windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hbrBackground = ::GetSysColorBrush(COLOR_BTNFACE);
        windowClass.lpszClassName = className;
        windowClass.hIcon = icon;
        ::RegisterClassExW(&windowClass);
    }
    m_owner = owner;
    m_size = size;
    m_window = ::CreateWindowExW(exStyle, className, caption, style, CW_USEDEFAULT, CW_USEDEFAULT,
                                 100, 100, owner, nullptr, instance, this);
    m_dpi = dpiOf(m_window);
    makeFonts();
    const RECT frame = frameFor(pixels(size.width), pixels(size.height), style, exStyle, m_dpi);
    UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
    POINT at{0, 0};
    if (placed) {
        // The client area's corner at the given place on the owner's monitor.
        MONITORINFO monitor{};
        monitor.cbSize = sizeof monitor;
        ::GetMonitorInfoW(
            ::MonitorFromWindow(owner != nullptr ? owner : m_window, MONITOR_DEFAULTTOPRIMARY),
            &monitor);
        at = {monitor.rcMonitor.left + pixels(layout::kDialogLeft) + frame.left,
              monitor.rcMonitor.top + pixels(layout::kDialogTop) + frame.top};
    } else {
        flags |= SWP_NOMOVE;
    }
    ::SetWindowPos(m_window, nullptr, at.x, at.y, frame.right - frame.left,
                   frame.bottom - frame.top, flags);
}

void Frame::makeFonts() {
    for (HFONT& font : m_fonts) {
        if (font != nullptr) ::DeleteObject(font);
        font = nullptr;
    }
    const auto make = [&](double points, int weight, const std::wstring& face, BYTE charSet) {
        return ::CreateFontW(-static_cast<int>(points * m_dpi / 72 + 0.5), 0, 0, 0, weight, FALSE,
                             FALSE, FALSE, charSet, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                             DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, face.c_str());
    };
    m_fonts[0] = make(9, FW_NORMAL, japaneseFace(), DEFAULT_CHARSET);
    m_fonts[1] = make(9, FW_BOLD, faceOr(L"ＭＳ Ｐゴシック", japaneseFace()), SHIFTJIS_CHARSET);
    // Arial Black has one, black face; where it is missing, the heaviest of
    // the Japanese face.
    const std::wstring counter = faceOr(L"Arial Black", {});
    m_fonts[2] = counter.empty() ? make(9.75, FW_BLACK, japaneseFace(), DEFAULT_CHARSET)
                                 : make(9.75, FW_NORMAL, counter, ANSI_CHARSET);
    ::SendMessageW(m_window, WM_SETFONT, reinterpret_cast<WPARAM>(m_fonts[0]), FALSE);
}

HWND Frame::addControl(const wchar_t* className, const wchar_t* text, DWORD style, int id,
                       layout::Rect rect, int font) {
    const HWND control = ::CreateWindowExW(
        0, className, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, m_window,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleW(nullptr), nullptr);
    m_controls.push_back({control, rect, font, -1});
    placeControls();
    return control;
}

void Frame::fitToText(HWND control, int extra) {
    for (Placed& placed : m_controls)
        if (placed.control == control) placed.fitExtra = extra;
    placeControls();
}

void Frame::placeControls() {
    RECT client{};
    ::GetClientRect(m_window, &client);
    const int clientWidth = std::max<int>(client.right, pixels(m_size.width));
    for (const Placed& placed : m_controls) {
        const HFONT font = m_fonts[placed.font];
        ::SendMessageW(placed.control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        int left = pixels(placed.rect.left);
        int width = pixels(placed.rect.width);
        int height = pixels(placed.rect.height);
        // A text is never cut by a font larger or wider than the layout
        // assumed: a label grows downwards to its font's line and to the right
        // to its text, up to the client area's edge (a label wraps a text too
        // long for it onto a line below, where it is hidden).
        const HDC dc = ::GetDC(placed.control);
        const HGDIOBJ old = ::SelectObject(dc, font);
        TEXTMETRICW metrics{};
        ::GetTextMetricsW(dc, &metrics);
        const std::wstring text = windowText(placed.control);
        SIZE extent{};
        ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
        ::SelectObject(dc, old);
        ::ReleaseDC(placed.control, dc);
        wchar_t className[16]{};
        ::GetClassNameW(placed.control, className, 16);
        if (::lstrcmpiW(className, L"Static") == 0) {
            height = std::max<int>(height, metrics.tmHeight);
            width = std::max<int>(width, std::min<int>(extent.cx, clientWidth - left));
        }
        if (placed.fitExtra >= 0) {
            // A check box, its box and its text: it keeps its right edge, under
            // the buttons above it, and takes the room it needs to the left,
            // as far as the labels' column; only a text longer still goes on
            // towards the client area's edge.
            height = std::max<int>(height, metrics.tmHeight);
            const int wanted = extent.cx + ::MulDiv(placed.fitExtra, static_cast<int>(m_dpi), 96);
            const int right = left + width;
            if (wanted > width) {
                left = std::max(pixels(kLeftColumn), std::min(left, right - wanted));
                width = std::min(std::max(wanted, right - left), clientWidth - left);
            }
        }
        ::SetWindowPos(placed.control, nullptr, left, pixels(placed.rect.top), width, height,
                       SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

LRESULT Frame::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_DPICHANGED: {
            m_dpi = HIWORD(wParam);
            makeFonts();
            const auto* suggested = reinterpret_cast<const RECT*>(lParam);
            ::SetWindowPos(m_window, nullptr, suggested->left, suggested->top,
                           suggested->right - suggested->left, suggested->bottom - suggested->top,
                           SWP_NOZORDER | SWP_NOACTIVATE);
            placeControls();
            return 0;
        }
        case WM_CLOSE: close(); return 0;
        default: return ::DefWindowProcW(m_window, message, wParam, lParam);
    }
}

void Frame::close() {
    // The owner takes input again before this window goes, so that the
    // activation returns to it and not to another program.
    if (m_owner != nullptr) ::EnableWindow(m_owner, TRUE);
    ::DestroyWindow(m_window);
}

void Frame::runModal(HWND owner) {
    if (owner != nullptr) ::EnableWindow(owner, FALSE);
    ::ShowWindow(m_window, SW_SHOW);
    MSG message{};
    while (::IsWindow(m_window)) {
        const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
        if (got <= 0) {
            // The program is ending: the loop that waits for the end hears it too.
            if (got == 0) ::PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        if (!::IsDialogMessageW(m_window, &message)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
    if (owner != nullptr) {
        ::EnableWindow(owner, TRUE);
        ::SetActiveWindow(owner);
    }
}

LRESULT CALLBACK Frame::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* frame = static_cast<Frame*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        frame->m_window = window;
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(frame));
    }
    auto* frame = reinterpret_cast<Frame*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (frame == nullptr) return ::DefWindowProcW(window, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        frame->m_window = nullptr;
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
    return frame->handleMessage(message, wParam, lParam);
}

}  // namespace kestrom::ui::win32
