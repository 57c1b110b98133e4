// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One frame of an ID3v2 tag, held as ID3v2.3 writes it whatever version it was
// read from, and the texts inside frames in their four encodings.
namespace kestrom::vbmp3 {

struct Frame {
    std::string id;  // four characters, "TIT2"
    // The ID3v2.3 status flags: 0x80 drop on a tag change, 0x40 drop on a file
    // change, 0x20 read only.
    unsigned char status = 0;
    // Compressed with zlib: content holds the compressed bytes, and this the size
    // they inflate to.
    std::optional<std::uint32_t> decompressedSize;
    std::optional<unsigned char> encryption;  // the method's symbol: content is encrypted
    std::optional<unsigned char> group;       // the group's symbol
    std::string content;                      // what follows the header and its additions
    // The version of the tag the frame was read from (2, 3 or 4): text encodings
    // 2 and 3 exist in version 4 only.
    int version = 3;

    bool operator==(const Frame&) const = default;
};

// The frame as ID3v2.3 stores it: its header (id, size, flags), the additions
// its flags call for (the decompressed size, the encryption method, the group
// symbol, in this order) and its content.
std::string renderFrame(const Frame& frame);

// The frame's content as a reader uses it: inflated when compressed. Nothing
// when it is encrypted or does not inflate to the size it gives.
std::optional<std::string> plainContent(const Frame& frame);

// True for a frame that holds text in the layout of the text frames (T*** and
// the involved people lists IPLS, TIPL and TMCL).
bool isTextFrame(std::string_view id);

// The text encodings of ID3v2: 0 ISO-8859-1, 1 UTF-16 with a byte order mark,
// 2 UTF-16 big-endian without one, 3 UTF-8.
inline constexpr unsigned char kLatin1 = 0;
inline constexpr unsigned char kUtf16 = 1;

// The strings of a text frame's content (encoding byte, strings separated by
// their terminators); empty strings are left out. Texts marked ISO-8859-1 are
// decoded as TagText's decodeLegacy does; UTF-16 without a byte order mark in the
// byte order that gives the likelier text. Nothing when the content is empty
// or its encoding unknown.
std::optional<std::vector<std::u16string>> textStrings(std::string_view content);

// A comment frame's description and text (COMM: encoding, language, description, text).
struct CommentText {
    std::u16string description;
    std::u16string text;
};
std::optional<CommentText> commentText(std::string_view content);

// A string as an ID3v2.3 frame stores it in UTF-16: the byte order mark FF FE,
// then the text little-endian.
std::string utf16WithBom(std::u16string_view text);

// The content of a frame as ID3v2.3 holds it: every string in encoding 2 or 3
// (version 2.4 only), and every string of encoding 1 that lacks the byte order
// mark ID3v2.3 requires (read in the likelier byte order), written anew as
// UTF-16 with a mark, the encoding byte set to 1, every other byte as it was;
// the content itself when it needs no change, and for a frame whose layout this
// library does not know. Nothing when the strings do not decode or the encoding
// is none of the four.
std::optional<std::string> contentForVersion3(std::string_view id, std::string content);

}  // namespace kestrom::vbmp3
