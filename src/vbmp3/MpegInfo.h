// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <taglib/mpegfile.h>

#include <array>

#include "vbmp3/FileLayout.h"
#include "vbmp3/TagFields.h"

namespace kestrom::vbmp3 {

using MpegInfoBlock = std::array<unsigned char, kMpegInfoSize>;

// The stream's properties in the layout described in vbmp3.h, from the first
// frame the layout found (layout.isMpegAudio()) and the VBR header in it (zero
// where that frame's header is not valid). The length and the mean bit rate are
// worked out as TagLib's own properties work them out, from the VBR header, or
// from the stream's size at the first frame's bit rate.
MpegInfoBlock mpegInfo(TagLib::MPEG::File& file, const FileLayout& layout);

}  // namespace kestrom::vbmp3
