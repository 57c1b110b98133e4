// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Code page 932, the Windows form of Shift-JIS, in Windows' mapping: 0x5C is the
// backslash, 0x7E the tilde, 0x8160 the FULLWIDTH TILDE (U+FF5E). The tables are
// generated at build time from glibc's "CP932" converter (Cp932TableGen.cpp), the
// same tables on every platform, never from plain "SHIFT_JIS", which maps 0x5C
// and 0x7E to the yen sign and the overline.
namespace kestrom::platform::cp932 {

// True for the first byte of a two-byte character (0x81-0x9F, 0xE0-0xFC).
bool isLeadByte(unsigned char byte);

// Decodes bytes; a sequence that is no character of the code page (an unassigned
// code, a lead byte without its second byte) becomes U+FFFD.
std::u16string decode(std::string_view bytes);

// Encodes as Windows does: a character without a code becomes '?', a character
// beyond the Basic Multilingual Plane (a surrogate pair) one '?'. A few characters
// map one way only (WAVE DASH U+301C takes the FULLWIDTH TILDE's code, which
// decodes as U+FF5E).
std::string encode(std::u16string_view text);

// The bytes of one character: one UTF-16 code unit, or a surrogate pair.
using CharacterEncoder = std::string (*)(std::u16string_view character);
// One character as encode() writes it.
std::string encodeCharacter(std::u16string_view character);

struct Cut {
    std::string bytes;
    std::size_t units = 0;  // how many code units of the text the bytes hold
};

// The start of text that fits in limit bytes, encoded character by character
// with encodeChar and cut after the last whole character: a lead byte never
// stands without its second byte, and a character that takes more bytes (an
// escape of the tag block) is never split.
Cut encodeCut(std::u16string_view text, std::size_t limit,
              CharacterEncoder encodeChar = encodeCharacter);

// The bytes of one character when decoding them gives the same character back,
// or an empty string when the code page cannot hold it exactly. NUL gives "\0".
std::string encodeExact(char16_t ch);

}  // namespace kestrom::platform::cp932
