// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QRect>
#include <QSize>

namespace kestrom::ui {

// The windows are laid out in twips (1/1440 inch); at 96 dots per inch 15 twips
// make one pixel. Qt 6 lays widgets out in device-independent pixels and always
// scales them by the screen's scale factor, so twips / 15 gives the intended size
// on every screen, and the fonts, given in points, scale along with it.
constexpr int twips(int value) {
    return (value + 7) / 15;
}

constexpr QRect twipsRect(int left, int top, int width, int height) {
    return {twips(left), twips(top), twips(width), twips(height)};
}

constexpr QSize twipsSize(int width, int height) {
    return {twips(width), twips(height)};
}

}  // namespace kestrom::ui
