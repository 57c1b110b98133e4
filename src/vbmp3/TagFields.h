// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "vbmp3/vbmp3.h"

// The seven fields that the library exchanges with the program, and their place
// in the 652-byte tag block (see vbmp3.h for the table).
namespace kestrom::vbmp3 {

inline constexpr std::size_t kTagBlockSize = VBMP3_TAG_INFO_SIZE;
inline constexpr std::size_t kMpegInfoSize = VBMP3_MPEG_INFO_SIZE;
inline constexpr unsigned kNoGenre = 255;

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

// Removes trailing U+0020 blanks.
std::u16string trimTrailingBlanks(std::u16string text);

}  // namespace kestrom::vbmp3
