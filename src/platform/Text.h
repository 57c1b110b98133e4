// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>

// Text helpers for file names. On Linux a file name is a string of bytes that is
// UTF-8 by convention only; the program keeps names as those bytes and converts
// to UTF-16 where it compares, sorts or shows them.
namespace kestrom::platform {

// Decodes UTF-8 bytes to UTF-16. A byte that is not part of valid UTF-8 becomes
// the lone surrogate U+DC80 + (byte - 0x80), so the conversion is reversible and
// two different byte strings never give the same text.
std::u16string toUtf16(std::string_view bytes);

// The reverse of toUtf16: lone surrogates U+DC80..U+DCFF become their raw bytes
// again; any other lone surrogate becomes U+FFFD.
std::string toUtf8(std::u16string_view text);

// Texts that must be valid UTF-8 (tag texts, the tag library's text record),
// rather than names kept as their bytes. fromValidUtf8: the text of bytes that
// are strictly valid UTF-8 (shortest forms only, no surrogate, nothing beyond
// U+10FFFF), nothing for any other bytes. toValidUtf8: the UTF-8 of text, every
// lone surrogate as U+FFFD.
std::optional<std::u16string> fromValidUtf8(std::string_view bytes);
std::string toValidUtf8(std::u16string_view text);

// The name as names are compared, in UTF-16: two names are the same name when
// their folded forms are equal. Letter case is ignored by the simple upper case
// of one fixed table of the Basic Multilingual Plane that never depends on the
// process locale (ｓ -> Ｓ, é -> É; ß and kana map to themselves), and so is
// the Unicode normalisation of the name: a name written decomposed (NFD, as
// files copied from a Mac are: "e" and U+0301, "か" and U+3099, Hangul jamo) is
// the same name as the one written composed (NFC). The folded form of a composed
// name is its characters upper-cased, so the order of listings by folded names
// is that of the upper-cased names. Bytes that are not UTF-8 keep their escape
// units, never the same as a character's.
std::u16string foldName(std::string_view bytes);
// The folded form as UTF-8 (toUtf8 of foldName), for a key to store: a plain
// ASCII name is upper-cased byte by byte.
std::string foldNameUtf8(std::string_view bytes);

// Removes leading and trailing blanks: U+0020 and the full-width U+3000.
std::string_view trimBlanks(std::string_view bytes);

// The name made fit for showing on one line: valid UTF-8 as it is, every byte that
// cannot be decoded and every control character as a visible "\xNN". On
// Windows the program's "/" between names is shown as "\".
std::string displayName(std::string_view bytes);

}  // namespace kestrom::platform
