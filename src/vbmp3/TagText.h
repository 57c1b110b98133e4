// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <taglib/id3v1tag.h>
#include <taglib/tbytevector.h>
#include <taglib/tstring.h>

#include <cstddef>
#include <string>
#include <string_view>

// Text as TagLib holds it, and the two kinds of tag text that carry no reliable
// encoding: ID3v1 fields, and ID3v2 frames marked ISO-8859-1. Older Japanese
// taggers wrote Shift-JIS bytes into both, so such bytes are read as code page
// 932 when they form Japanese text in it, and as ISO-8859-1 otherwise.
namespace kestrom::vbmp3 {

std::u16string toUtf16(const TagLib::String& text);
TagLib::String toTagString(std::u16string_view text);

// True when bytes are code page 932 text with something Japanese in it: every
// byte sequence is a character of the code page (a lone lead byte at the very end,
// the half of a character cut off by an older tagger, is allowed), no character
// is from the user-defined area, and there is a two-byte character whose lead
// byte is 0x81-0x9F or a run of at least two half-width katakana. Genuine
// ISO-8859-1 text never holds 0x81-0x9F (control codes there) and rarely two
// upper-case accented letters in a row, so "Café", "Motörhead", "Canções" or
// "Édith" stay ISO-8859-1, while kana, full-width letters and the common kanji
// (lead bytes 0x88-0x9F) are recognised. A text made only of rarer kanji (lead
// bytes 0xE0-0xEF) is taken for ISO-8859-1: the price of not misreading accents.
bool looksLikeShiftJis(std::string_view bytes);

// Decodes tag bytes without a declared encoding (see looksLikeShiftJis). A lone
// trailing lead byte of Shift-JIS text is dropped, never turned into a character.
TagLib::String decodeLegacy(std::string_view bytes);

// An ID3v1 field: the bytes up to the first NUL, surrounding blanks removed,
// decoded as decodeLegacy does.
TagLib::String decodeId3v1Field(std::string_view bytes);

// The comment of an ID3v1 tag. TagLib 1.13 reads the comment of a tag without a
// track number (ID3v1.0) past the string handler, as ISO-8859-1; that text still
// holds the original bytes, which are decoded again here. A comment that went
// through the handler comes back unchanged.
TagLib::String id3v1Comment(const TagLib::ID3v1::Tag& tag);

// Text in code page 932 as Windows writes it (a character outside it becomes
// '?', a character beyond the Basic Multilingual Plane one '?'), cut after the
// last whole character that fits in limit bytes.
std::string encodeForId3v1(const TagLib::String& text, std::size_t limit);
// The longest start of text whose encodeForId3v1 fits in limit bytes.
TagLib::String fitForId3v1(const TagLib::String& text, std::size_t limit);

// Installs the code page 932 string handlers into TagLib, for ID3v1 (reading and
// writing) and for the ISO-8859-1 frames of ID3v2 (reading). TagLib's handlers are
// process-wide; this runs once however often it is called, from any thread.
void installStringHandlers();

}  // namespace kestrom::vbmp3
