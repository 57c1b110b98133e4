// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <taglib/apetag.h>
#include <taglib/commentsframe.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>

#include <optional>
#include <vector>

#include "vbmp3/Id3v2Frame.h"
#include "vbmp3/MpegInfo.h"
#include "vbmp3/ReadAheadStream.h"
#include "vbmp3/TagFields.h"

namespace kestrom::vbmp3 {

// The fields of one tag. Texts lose their trailing blanks; a year beyond 9999 is
// none. The genre number is the tag's own for ID3v1, else the ID3v1 number of the
// genre's name (255 for a name that is not an ID3v1 genre).
//
// Of ID3v2 frames (any version, see LeadingTags.h): the first TIT2, TPE1 and
// TALB, the year of the first TYER or TDRC, the first comment without a
// description, and TCON with its ID3v1 references ("(13)", "13") named. A frame
// of several strings reads as them joined by blanks; an encrypted frame as none.
TagFields fieldsOf(const std::vector<Frame>& frames);
TagFields fieldsOf(const TagLib::ID3v1::Tag& tag);
TagFields fieldsOf(const TagLib::APE::Tag& tag);

// The ID3v1 number of a genre's name, 255 for a name that is not an ID3v1 genre.
unsigned genreNumberOf(const TagLib::String& name);

// The comment that the fields use: the first comment frame without a description.
// Described comments are other programs' data (players keep loudness values and
// gapless information there) and are neither read nor written.
TagLib::ID3v2::CommentsFrame* plainComment(const TagLib::ID3v2::Tag& tag);
bool isPlainComment(const Frame& frame);

// The year a frame's text gives: its first four characters as a number, 0 when
// they are not digits or give more than 9999.
unsigned yearOf(const std::vector<Frame>& frames);

struct FileInfo {
    TagFields fields;
    MpegInfoBlock mpeg{};
};

// Reads an MP3 file: the fields of its ID3v2 tags, else of its ID3v1 tag, else
// of its APE tag, skipping a tag that holds none of the fields. Nothing when the
// stream is not MPEG audio or no tag holds any field.
std::optional<FileInfo> readFileInfo(ReadAheadStream& stream);

}  // namespace kestrom::vbmp3
