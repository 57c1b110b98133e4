// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Normalization.h"

#include <windows.h>

#include "platform/Text.h"

namespace kestrom::platform {
namespace {

std::wstring toWide(std::u32string_view points) {
    std::wstring out;
    out.reserve(points.size());
    for (char32_t c : points) {
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<wchar_t>(0xD800 + (c >> 10));
            out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<wchar_t>(c);
        }
    }
    return out;
}

void toPoints(std::wstring_view text, std::u32string& out) {
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto u = static_cast<char32_t>(text[i]);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size()) {
            out += 0x10000 + ((u - 0xD800) << 10) + (static_cast<char32_t>(text[i + 1]) - 0xDC00);
            ++i;
        } else {
            out += u;
        }
    }
}

bool normalize(NORM_FORM form, std::wstring_view text, std::u32string& out) {
    if (text.empty()) {
        out.clear();
        return true;
    }
    const int size = static_cast<int>(text.size());
    // The estimate is an upper bound; a second call with the size the first one
    // asked for covers a text that grows more than guessed.
    std::wstring result(
        static_cast<std::size_t>(::NormalizeString(form, text.data(), size, nullptr, 0)), L'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int length = ::NormalizeString(form, text.data(), size, result.data(),
                                             static_cast<int>(result.size()));
        if (length > 0) {
            toPoints(std::wstring_view(result).substr(0, static_cast<std::size_t>(length)), out);
            return true;
        }
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
        result.resize(static_cast<std::size_t>(-length));
    }
    return false;
}

}  // namespace

bool decomposeCanonically(std::string_view utf8, std::u32string& out) {
    const std::u16string text = toUtf16(utf8);
    return normalize(NormalizationD, std::wstring(text.begin(), text.end()), out);
}

bool composeCanonically(std::u32string& text) {
    std::u32string composed;
    if (!normalize(NormalizationC, toWide(text), composed)) return false;
    text = std::move(composed);
    return true;
}

}  // namespace kestrom::platform
