// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Cp932.h"

#include <array>
#include <cstdint>
#include <iterator>
#include <memory>

namespace kestrom::platform::cp932 {
namespace {

constexpr char16_t kInvalid = 0xFFFD;
constexpr unsigned kTrailFirst = 0x40;
constexpr std::size_t kTrailCount = 0xFD - kTrailFirst;

unsigned leadIndex(unsigned char lead) {
    return lead <= 0x9F ? lead - 0x81u : lead - 0xE0u + 31u;
}

// The tables, generated at build time from the C library's converter (see
// Cp932TableGen.cpp): kSingleBytes, kDoubleBytes, kEncodings.
#include "Cp932Table.inc"

static_assert(std::size(kDoubleBytes) == 60 * kTrailCount);

struct Tables {
    std::array<std::uint16_t, 0x10000> encoded{};  // code, 0 = none (U+0000 aside)
    std::array<bool, 0x10000> exact{};             // decoding the code gives it back

    Tables() {
        for (const auto& [character, code] : kEncodings) encoded[character] = code;
        for (std::size_t c = 1; c < 0x10000; ++c)
            exact[c] = encoded[c] != 0 && decodeCode(encoded[c]) == c;
        exact[0] = true;
    }

    static char16_t decodeCode(std::uint16_t code) {
        if (code < 0x100) return kSingleBytes[code];
        return kDoubleBytes[leadIndex(static_cast<unsigned char>(code >> 8)) * kTrailCount +
                            (code & 0xFFu) - kTrailFirst];
    }
};

const Tables& tables() {
    static const std::unique_ptr<const Tables> instance = std::make_unique<const Tables>();
    return *instance;
}

bool isHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool isLowSurrogate(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

void appendCode(std::string& out, std::uint16_t code) {
    if (code >= 0x100) out += static_cast<char>(code >> 8);
    out += static_cast<char>(code & 0xFF);
}

}  // namespace

bool isLeadByte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

std::u16string decode(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (!isLeadByte(b)) {
            out += kSingleBytes[b];
            continue;
        }
        if (i + 1 == bytes.size()) {
            out += kInvalid;
            break;
        }
        const auto trail = static_cast<unsigned char>(bytes[i + 1]);
        if (trail < kTrailFirst || trail >= 0xFD) {
            out += kInvalid;  // the second byte starts over as a character of its own
            continue;
        }
        out += Tables::decodeCode(static_cast<std::uint16_t>(b << 8 | trail));
        ++i;
    }
    return out;
}

std::string encode(std::u16string_view text) {
    return encodeCut(text, std::string::npos).bytes;
}

std::string encodeCharacter(std::u16string_view character) {
    const char16_t ch = character.front();
    if (ch == 0) return std::string(1, '\0');
    const std::uint16_t code = character.size() == 1 ? tables().encoded[ch] : 0;
    if (code == 0) return "?";
    std::string out;
    appendCode(out, code);
    return out;
}

Cut encodeCut(std::u16string_view text, std::size_t limit, CharacterEncoder encodeChar) {
    Cut cut;
    while (cut.units < text.size()) {
        const bool pair = cut.units + 1 < text.size() && isHighSurrogate(text[cut.units]) &&
                          isLowSurrogate(text[cut.units + 1]);
        const std::size_t units = pair ? 2 : 1;
        const std::string bytes = encodeChar(text.substr(cut.units, units));
        if (bytes.size() > limit - cut.bytes.size()) break;
        cut.bytes += bytes;
        cut.units += units;
    }
    return cut;
}

std::string encodeExact(char16_t ch) {
    const Tables& t = tables();
    if (!t.exact[ch]) return {};
    if (ch == 0) return std::string(1, '\0');
    std::string out;
    appendCode(out, t.encoded[ch]);
    return out;
}

}  // namespace kestrom::platform::cp932
