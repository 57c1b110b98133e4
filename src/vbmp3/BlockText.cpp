// SPDX-License-Identifier: GPL-3.0-or-later
#include "vbmp3/BlockText.h"

#include "platform/Cp932.h"

namespace kestrom::vbmp3 {
namespace {

constexpr std::size_t kEscapeLength = 5;
constexpr char16_t kDel = 0x7F;

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

// One character of a field: its exact code, else its escape (a surrogate pair's
// two escapes).
std::string blockCharacter(std::u16string_view character) {
    if (character.size() == 1 && character[0] != kDel) {
        if (std::string bytes = platform::cp932::encodeExact(character[0]); !bytes.empty())
            return bytes;
    }
    std::string escapes;
    for (char16_t unit : character) appendEscape(escapes, unit);
    return escapes;
}

}  // namespace

std::string toBlockText(std::u16string_view text, std::size_t capacity) {
    return platform::cp932::encodeCut(text.substr(0, text.find(u'\0')), capacity, blockCharacter)
        .bytes;
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
