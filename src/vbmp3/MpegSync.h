// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "vbmp3/ReadAheadStream.h"

// Finding MPEG audio by its frames. A frame header is easily confused with
// stray bytes (a picture, a damaged tag), so a header counts only when the next
// frame's header follows it, of the same version, layer and sample rate.
namespace kestrom::vbmp3 {

// True when MPEG audio starts at offset: a valid frame header whose frame is
// followed by another one, or ends exactly at end (where the audio ends).
bool isAudioAt(ReadAheadStream& stream, long offset, long end);

// Where MPEG audio (as isAudioAt finds it), or with orTag an ID3v2 tag, starts
// first at or after from, before limit. -1 when nothing does.
long findAudio(ReadAheadStream& stream, long from, long limit, long end, bool orTag = false);

// True when MPEG frames of the stream at target, one after the other, lead from
// some offset in [from, before) exactly to the frame at target: audio that
// started before `before` and runs into target.
bool audioRunsInto(ReadAheadStream& stream, long from, long before, long target);

}  // namespace kestrom::vbmp3
