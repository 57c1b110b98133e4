// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The three windows' layout in twips (1/1440 inch; 15 twips make one pixel at
// 96 dots per inch), from the top-left corner of the client area. Both sets of
// windows, Qt's on Linux and Win32's on Windows, are drawn from it.
namespace kestrom::ui::layout {

struct Rect {
    int left, top, width, height;
};
struct Size {
    int width, height;
};

// The main window.
inline constexpr Size kMain{5940, 2310};
inline constexpr Rect kText1[2]{{900, 360, 4215, 315}, {900, 780, 4215, 315}};
inline constexpr Rect kCommand1[2]{{5220, 360, 615, 315}, {5220, 780, 615, 315}};
inline constexpr Rect kCommand2{3900, 1620, 915, 555};
inline constexpr Rect kCommand3{4920, 1620, 915, 555};
inline constexpr Rect kCheck1{1620, 1200, 4215, 195};
inline constexpr Rect kLabel1[2]{{120, 420, 735, 255}, {120, 840, 735, 255}};
inline constexpr Rect kLabel2{4500, 0, 1395, 255};
inline constexpr Rect kLabel3{3480, 60, 915, 195};
inline constexpr Rect kLabel4[2]{{120, 2040, 2775, 195}, {120, 1680, 2775, 195}};
inline constexpr Rect kLabel5[2]{{120, 1860, 1695, 195}, {120, 1500, 1695, 195}};

// The folder picker and the error list open at one place on the screen: their
// client area's top-left corner this far from the screen's.
inline constexpr int kDialogLeft = 2760;
inline constexpr int kDialogTop = 3750;

// The folder picker.
inline constexpr Size kDialog{4515, 2820};
inline constexpr Rect kOKButton{3120, 180, 1215, 375};
inline constexpr Rect kCancelButton{3120, 720, 1215, 375};
inline constexpr Rect kDrive1{180, 180, 2775, 300};
inline constexpr Rect kDir1{180, 660, 2775, 1980};

// The error list.
inline constexpr Size kDialog1{5775, 2730};
inline constexpr Rect kErrListOK{2040, 2220, 1695, 375};
inline constexpr Rect kErrList{120, 120, 5535, 1935};

}  // namespace kestrom::ui::layout
