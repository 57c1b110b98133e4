// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <taglib/mpegfile.h>

#include <array>

#include "vbmp3/FileLayout.h"
#include "vbmp3/TagFields.h"

namespace kestrom::vbmp3 {

using MpegInfoBlock = std::array<unsigned char, kMpegInfoSize>;

// The stream's properties in the layout described in vbmp3.h: from the first
// frame the layout found (layout.isMpegAudio()), and the properties TagLib reads
// when file is opened with them (zero where it finds none).
MpegInfoBlock mpegInfo(TagLib::MPEG::File& file, const FileLayout& layout);

}  // namespace kestrom::vbmp3
