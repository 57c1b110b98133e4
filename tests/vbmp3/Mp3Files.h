// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <taglib/mpegfile.h>

#include <array>
#include <functional>
#include <string>
#include <string_view>

// Small MP3 files and tag blocks for the tag library's tests.
namespace kestrom::test {

inline constexpr std::size_t kFrameSize = 417;  // MPEG-1 Layer III, 128 kbit/s, 44.1 kHz, mono

// count silent frames: a valid MPEG stream.
std::string silentFrames(int count = 4);
// Writes silent frames to path, lets tag set the tags through TagLib and saves
// them (ID3v2 in the given version).
void makeMp3(const std::string& path, const std::function<void(TagLib::MPEG::File&)>& tag,
             int version = 3);
// An ID3v1 tag of raw bytes.
std::string id3v1Tag(std::string_view title, std::string_view artist = "",
                     std::string_view comment = "", unsigned char genre = 255);
// The file of that name in the shared fixture folder.
std::string fixture(std::string_view name);

using Block = std::array<unsigned char, 652>;
using MpegInfo = std::array<unsigned char, 56>;

bool readTag(const std::string& path, Block& block, MpegInfo* mpeg = nullptr);
bool writeTag(const std::string& path, Block block);
std::string bytes(const Block& block, std::size_t offset, std::size_t size);
// A field's text, escapes undone.
std::u16string text(const Block& block, std::size_t offset, std::size_t size);
void setText(Block& block, std::size_t offset, std::size_t size, std::string_view bytes);
// The block after the program kept it: each text field decoded from code page 932
// to UTF-16 padded with NUL characters, encoded again, cut on a character
// boundary and padded with NUL bytes.
Block throughProgram(const Block& block);

}  // namespace kestrom::test
