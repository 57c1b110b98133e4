// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <taglib/mpegfile.h>

#include <array>

#include "vbmp3/FileLayout.h"
#include "vbmp3/TagFields.h"

namespace kestrom::vbmp3 {

using MpegInfoBlock = std::array<unsigned char, kMpegInfoSize>;

// True when the file holds MPEG audio: TagLib finds a frame header that the next
// frame confirms, with a sample rate. Needs no audio properties, which cost a
// scan of the stream.
bool isMpegAudio(TagLib::MPEG::File& file);

// The stream's properties in the layout described in vbmp3.h. file must hold
// MPEG audio (isMpegAudio) and have been opened with its audio properties.
MpegInfoBlock mpegInfo(TagLib::MPEG::File& file, const FileLayout& layout);

}  // namespace kestrom::vbmp3
