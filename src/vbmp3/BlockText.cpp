// SPDX-License-Identifier: GPL-3.0-or-later
#include "vbmp3/BlockText.h"

#include "platform/Cp932.h"

namespace kestrom::vbmp3 {
namespace {

constexpr std::size_t kEscapeLength = 5;
constexpr char16_t kDel = 0x7F;

bool isHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool isLowSurrogate(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

void appendEscape(std::string& out, char16_t unit) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    out += kEscapeIntroducer;
    for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(unit >> shift) & 0xF];
}

int hexValue(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    return -1;
}

}  // namespace

std::string toBlockText(std::u16string_view text, std::size_t capacity) {
    std::string out;
    std::string piece;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c == 0) break;
        piece.clear();
        if (isHighSurrogate(c) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
            appendEscape(piece, c);
            appendEscape(piece, text[++i]);
        } else if (std::string bytes = c == kDel ? std::string() : platform::cp932::encodeExact(c);
                   !bytes.empty()) {
            piece = std::move(bytes);
        } else {
            appendEscape(piece, c);
        }
        if (out.size() + piece.size() > capacity) break;
        out += piece;
    }
    return out;
}

std::u16string fromBlockText(std::string_view bytes) {
    bytes = bytes.substr(0, bytes.find('\0'));
    const std::u16string decoded = platform::cp932::decode(bytes);
    std::u16string text;
    text.reserve(decoded.size());
    for (std::size_t i = 0; i < decoded.size(); ++i) {
        if (decoded[i] == kDel && i + kEscapeLength <= decoded.size()) {
            int unit = 0;
            for (std::size_t k = 1; k < kEscapeLength && unit >= 0; ++k) {
                const int digit = hexValue(decoded[i + k]);
                unit = digit < 0 ? -1 : unit * 16 + digit;
            }
            if (unit > 0) {  // an escaped NUL would end the text early: not ours
                text += static_cast<char16_t>(unit);
                i += kEscapeLength - 1;
                continue;
            }
        }
        text += decoded[i];
    }
    return text;
}

}  // namespace kestrom::vbmp3
