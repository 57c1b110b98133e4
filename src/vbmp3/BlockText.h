// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The texts of the tag block: code page 932, one byte per character position.
// The program keeps the block in UTF-16 between calls and converts it back with
// code page 932, so only bytes that survive that trip may be used. A character
// the code page cannot hold exactly is written as an escape of plain ASCII:
//
//     0x7F (DEL) followed by four upper-case hexadecimal digits of its UTF-16
//     code unit, e.g. "é" -> 7F "00E9", WAVE DASH U+301C -> 7F "301C".
//
// A character beyond the Basic Multilingual Plane takes two escapes (its
// surrogate pair). DEL itself is escaped the same way (7F "007F"), so every 0x7F
// in a field starts an escape and a text that holds DEL still round-trips. No
// real tag text holds DEL, and no other program writes it into the record.
namespace kestrom::vbmp3 {

inline constexpr char kEscapeIntroducer = '\x7F';

// The bytes of text for a field of capacity bytes: code page 932 with escapes.
// A text that does not fit is cut after the last whole character (an escape or a
// surrogate pair counts as one); a NUL ends the text.
std::string toBlockText(std::u16string_view text, std::size_t capacity);

// The text of a field's bytes: up to the first NUL, decoded from code page 932,
// escapes undone. Bytes that are not code page 932 text become U+FFFD; a 0x7F
// that is not followed by four hexadecimal digits stays as it is.
std::u16string fromBlockText(std::string_view bytes);

}  // namespace kestrom::vbmp3
