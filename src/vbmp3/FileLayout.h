// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <taglib/tiostream.h>

// Where the tags and the audio of an MP3 file lie. Taggers put ID3v2 tags in
// front of the audio (some put a new one in front of an old one instead of
// replacing it), and an APE tag and an ID3v1 tag, in that order, behind it.
namespace kestrom::vbmp3 {

struct FileLayout {
    long length = 0;
    int leadingId3v2Tags = 0;  // ID3v2 tags back to back from the start of the file
    long firstTagEnd = 0;      // end of the first of them (0 when there is none)
    long audioStart = 0;       // end of the last of them
    long audioEnd = 0;         // start of the APE tag, else of the ID3v1 tag, else length
    long id3v1Start = 0;       // start of the ID3v1 tag, else length
};

// Finds the layout from the tag headers alone: an ID3v2 header counts only with a
// supported version, a synchsafe size and a tag that ends inside the file; an APE
// tag only when its footer's size fits between the ID3v2 tags and the ID3v1 tag.
FileLayout readLayout(TagLib::IOStream& stream);

}  // namespace kestrom::vbmp3
