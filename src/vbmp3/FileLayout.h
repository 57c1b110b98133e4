// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "vbmp3/LeadingTags.h"
#include "vbmp3/ReadAheadStream.h"

// Where the tags and the audio of an MP3 file lie. Taggers put ID3v2 tags in
// front of the audio (some put a new one in front of an old one instead of
// replacing it), and an APE tag and an ID3v1 tag, in that order, behind it.
namespace kestrom::vbmp3 {

// An ID3v1 tag: the last 128 bytes of the file, starting with "TAG".
inline constexpr long kId3v1Size = 128;

struct FileLayout {
    long length = 0;
    LeadingTags leading;   // the ID3v2 tags in front
    long audioStart = 0;   // where the bytes after the leading tags start (leading.end)
    long firstFrame = -1;  // the first MPEG audio frame; -1: the file holds no MPEG audio
    long audioEnd = 0;     // start of the APE tag, else of the ID3v1 tag, else length
    long id3v1Start = 0;   // start of the ID3v1 tag, else length

    bool isMpegAudio() const { return firstFrame >= 0; }
};

// Finds the layout. The audio is found by its frames (see MpegSync.h), at most
// a little way after the leading tags, and never in a file that starts as
// another container does (RIFF, MP4, FLAC, Ogg, ASF, AIFF) behind its tags.
// An APE tag counts only when its footer's size fits between the leading tags
// and the ID3v1 tag.
FileLayout readLayout(ReadAheadStream& stream);

}  // namespace kestrom::vbmp3
