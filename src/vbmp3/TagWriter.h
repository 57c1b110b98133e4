// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>

#include <optional>
#include <string>

#include "platform/Posix.h"
#include "vbmp3/TagFields.h"

namespace kestrom::vbmp3 {

// Which tags a write renews; a tag that is not renewed stays as it is.
struct WriteTargets {
    bool id3v2 = true;
    bool id3v1 = true;
};

// Puts the fields into an ID3v2 tag as frames with UTF-16 text (title TIT2,
// artist TPE1, album TALB, year TYER, comment COMM without description, genre
// TCON by name), replacing the frames that held them and keeping every other
// frame. The ID3v2.3 date frames TDAT and TIME are removed when the year changes;
// while it stays, the month and day of a v2.4 date move into TDAT.
void applyFields(TagLib::ID3v2::Tag& tag, const TagFields& fields);

// Puts the fields into an ID3v1 tag (its track number stays). The comment is cut
// to the 28 bytes that ID3v1.1 leaves it, on a character boundary; the genre
// number is that of the genre's name when it is an ID3v1 genre, else Number.
void applyFields(TagLib::ID3v1::Tag& tag, const TagFields& fields);

// Writes the fields into the MP3 file at path (through a link, into the file it
// leads to), never damaging it: the new file is made as a hidden copy beside it (with its mode and,
// where the process may, its owner), and only when that copy reads back with the tags as written
// and with its audio byte for byte the original's is it synced and renamed over the file. Exactly
// one ID3v2 tag (version 2.3) is left when the ID3v2 tag is renewed, however many the file had. On
// failure the file is as it was, the copy is gone, and the result says why. A file that is not MPEG
// audio and a read-only file (owner write permission clear) are refused.
std::optional<std::string> writeFields(const std::string& path, const TagFields& fields,
                                       WriteTargets targets,
                                       platform::Posix& posix = platform::systemPosix());

}  // namespace kestrom::vbmp3
