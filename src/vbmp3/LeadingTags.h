// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

#include "vbmp3/Id3v2Frame.h"
#include "vbmp3/ReadAheadStream.h"

// The ID3v2 tags at the start of an MP3 file, read in every version (2.2, 2.3,
// 2.4) and layout that taggers write: extended headers, footers,
// unsynchronisation of the whole tag or of single frames, data length
// indicators, compressed, encrypted and grouped frames, several tags back to
// back, and size fields that claim more than the tag holds.
//
// TagLib 1.13 reads several of these wrongly: the version 2.3 extended header's
// size as version 2.4 gives it, a group symbol as the frame's first byte, a
// frame of no size as the end of the frames, the last frame of a tag with a
// footer, UTF-16 without a byte order mark as nothing, and only the first of
// several tags. This library therefore reads the tags in front of the audio
// itself; TagLib reads the tags behind it and the stream's properties, and
// checks each new tag before it is written.
namespace kestrom::vbmp3 {

struct LeadingTags {
    int count = 0;  // tags back to back from the start of the file
    // The frames of every tag, in their order. Where two tags hold the same text
    // frame (a TXXX: of the same description), the first tag's is kept; a frame
    // that repeats another byte for byte is kept once; every other frame is kept.
    // Frames of no size carry nothing and are left out. A version 2.2 frame has
    // its version 2.3 id (and a picture its version 2.3 layout).
    std::vector<Frame> frames;
    long declaredEnd = 0;  // where the last tag ends as its header says (0: no tag)
    // Where the bytes after the tags start: the audio, or bytes before it that
    // belong to no frame. Before declaredEnd when a size field claims more than
    // its tag holds.
    long end = 0;
    // The tags may be written over in place, [0, declaredEnd): after the frames
    // of every tag only zero bytes follow, up to where the tag's header says it
    // ends, and nothing starts before that.
    bool roomIsPadding = false;
    // Why the frames cannot all be carried over exactly (a frame that overruns
    // its tag, bytes inside a tag that are no frame, a frame of an unknown
    // version 2.2 kind...); empty when they can. A write is refused then.
    std::string damage;
};

// Reads the tags at the start of the stream. A tag counts with the identifier
// "ID3", version 2 to 4 and a size of four 7-bit bytes.
LeadingTags readLeadingTags(ReadAheadStream& stream);

// True when an ID3v2 header starts at offset.
bool isTagHeaderAt(ReadAheadStream& stream, long offset);

}  // namespace kestrom::vbmp3
