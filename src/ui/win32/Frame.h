// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "platform/Texts.h"
#include "ui/Layout.h"

// What the three Win32 windows share: text conversion, their layout in twips
// scaled to the monitor's dots per inch, the program's fonts, and modality.
namespace kestrom::ui::win32 {

std::wstring wide(std::string_view utf8);
std::string utf8(std::wstring_view text);
std::wstring windowText(HWND window);

// The language the windows speak: Japanese under a Japanese Windows display
// language (or where LC_ALL, LC_MESSAGES or LANG says so), English otherwise.
const platform::Language& windowLanguage();
// A text in the windows' language, as the system's calls take it.
std::wstring say(const platform::Text& text);

// The face the windows write Japanese in: the first installed of Yu Gothic UI,
// Meiryo UI and MS UI Gothic, else any face with Japanese glyphs. The system's
// stock user-interface font has none, and shows every kana as a box.
const std::wstring& japaneseFace();
// A face when it is installed, else fallback.
std::wstring faceOr(const wchar_t* face, const std::wstring& fallback);

// A window of the program: a window class of its own, its controls placed in
// twips and placed again when the window moves to a monitor of another scale
// (WM_DPICHANGED), and its fonts made for that scale.
class Frame {
public:
    Frame() = default;
    Frame(const Frame&) = delete;
    Frame& operator=(const Frame&) = delete;
    virtual ~Frame();

    HWND handle() const { return m_window; }
    HWND item(int id) const { return ::GetDlgItem(m_window, id); }

protected:
    // Creates the window with a client area of size, at the system's default
    // place, or, when placed, at the given place (twips from the top-left
    // corner of the owner's monitor).
    void create(const wchar_t* className, const wchar_t* caption, layout::Size size, HWND owner,
                DWORD style, DWORD exStyle, bool placed, HICON icon);
    // A control, placed in twips; font: 0 the window's, 1 the gothic label
    // face, 2 the counter face.
    HWND addControl(const wchar_t* className, const wchar_t* text, DWORD style, int id,
                    layout::Rect rect, int font = 0);
    // Widens a check box to fit its box and text (extra: the box and its gap,
    // in pixels at 96 dots per inch), never narrowing it: leftwards first, as
    // far as the labels' column, then to the client area's right edge.
    void fitToText(HWND control, int extra);

    virtual LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // Runs the window as a modal one over owner until it is destroyed.
    void runModal(HWND owner);
    void close();

    UINT m_dpi = 96;

private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void placeControls();
    void makeFonts();
    int pixels(int twips) const;

    struct Placed {
        HWND control;
        layout::Rect rect;
        int font;
        int fitExtra;  // -1: keeps its rectangle
    };
    HWND m_window = nullptr;
    HWND m_owner = nullptr;
    layout::Size m_size{};
    std::vector<Placed> m_controls;
    HFONT m_fonts[3]{};
};

}  // namespace kestrom::ui::win32
