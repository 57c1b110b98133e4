// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The Win32 windows' class names and their controls' identifiers: what a
// program that drives the windows (the window tests) finds them by. None is
// IDOK or IDCANCEL, so that Enter and Escape press no button.
namespace kestrom::ui::win32 {

inline constexpr const wchar_t* kMainClass = L"KestromMain";
inline constexpr const wchar_t* kDialogClass = L"KestromDialog";
inline constexpr const wchar_t* kDialog1Class = L"KestromDialog1";

enum ControlId : int {
    kText1 = 100,     // and 101: Text1(0), Text1(1)
    kCommand1 = 110,  // and 111
    kCommand2 = 120,
    kCommand3 = 121,
    kCheck1 = 130,
    kLabel1 = 140,  // and 141
    kLabel2 = 150,
    kLabel3 = 151,
    kLabel4 = 160,  // and 161
    kLabel5 = 170,  // and 171
    kOKButton = 200,
    kCancelButton = 201,
    kDrive1 = 210,
    kDir1 = 211,
    kErrList = 220,
};

}  // namespace kestrom::ui::win32
