// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "vbmp3/vbmp3.h"

// The seven fields that the library exchanges with the program, and their place
// in the 652-byte tag block and in the text record (see vbmp3.h for both).
namespace kestrom::vbmp3 {

inline constexpr std::size_t kTagBlockSize = VBMP3_TAG_INFO_SIZE;
inline constexpr std::size_t kMpegInfoSize = VBMP3_MPEG_INFO_SIZE;
inline constexpr unsigned kNoGenre = 255;
inline constexpr std::size_t kTextMax = VBMP3_TEXT_MAX;

// One tag in Unicode. Texts hold no NUL and no trailing blanks.
struct TagFields {
    std::u16string title;             // TextA
    std::u16string artist;            // TextB (where the program puts the karaoke mark)
    std::u16string album;             // TextC
    unsigned year = 0;                // ShortText: four digits, 0 when none
    std::u16string comment;           // TextD
    unsigned genreNumber = kNoGenre;  // Number: ID3v1 genre number, 255 when none
    std::u16string genre;             // TextE: the genre's name

    bool empty() const;
    friend bool operator==(const TagFields&, const TagFields&) = default;
};

// Writes every field into the block: texts cut to their field on a character
// boundary, without trailing blanks, padded with NUL bytes; Number little-endian. The alignment gap
// (bytes 517-519) is left as it was.
void toBlock(const TagFields& fields, unsigned char* block);

// Reads the fields from a block as the program hands it over. Trailing blanks
// and NULs of a text are dropped; a year that is not one to four digits is none;
// a Number outside 0-255 is 255.
TagFields fromBlock(const unsigned char* block);

// The text record of the fields, into record. A text ends at its first NUL,
// without the blanks before it; a lone surrogate, which is no character and has
// no UTF-8 form, becomes U+FFFD.
// EOVERFLOW (record left as it was) when a text takes more than kTextMax bytes,
// else 0: a text is never cut.
int toRecord(const TagFields& fields, std::string& record);

// The fields of a record that is exactly these bytes, as vbmp3.h describes it;
// nothing when it is malformed (a NUL missing, bytes after the last one, a text
// that is no valid UTF-8 or longer than kTextMax bytes). Texts lose their
// trailing blanks, and ShortText and Number are read as fromBlock reads them.
std::optional<TagFields> fromRecord(std::string_view record);

// Removes trailing U+0020 blanks.
std::u16string trimTrailingBlanks(std::u16string text);

}  // namespace kestrom::vbmp3
