# SPDX-License-Identifier: GPL-3.0-or-later
"""Audio for the trial, and where the audio of an MP3 file lies.

Every corpus file gets audio of its own (a tone and noise from its own seed), so
that audio swapped between files shows. The audio region of a file is found
from the MPEG frames themselves, never from a tag's size field, which is what
the trial doubts."""

import struct
import subprocess
from pathlib import Path

RATE = 44100

_BITRATES = {
    # (version is MPEG-1, layer) -> kbit/s by index 1..14
    (True, 1): [32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448],
    (True, 2): [32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384],
    (True, 3): [32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320],
    (False, 1): [32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256],
    (False, 2): [8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160],
    (False, 3): [8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160],
}
_RATES = {3: [44100, 48000, 32000], 2: [22050, 24000, 16000], 0: [11025, 12000, 8000]}

# A header is only trusted when this many frames follow one another from it:
# frame headers are easily confused with stray bytes of a picture or a text.
CHAIN = 4


def make_mp3(cache, seed, seconds, kbps):
    """A plain MP3 file (no tag) of a tone and noise made from seed, encoded by
    lame, and the WAV file it was made from (for the cases that lame tags while
    encoding). Cached by its parameters."""
    cache.mkdir(parents=True, exist_ok=True)
    stem = cache / f"s{seed}-{seconds}s-{kbps}k"
    wav = stem.with_suffix(".wav")
    mp3 = stem.with_suffix(".mp3")
    if not wav.exists():
        freq = 110 + seed % 880
        graph = (
            f"sine=frequency={freq}:duration={seconds}:sample_rate={RATE}[t];"
            f"anoisesrc=seed={seed}:color=pink:amplitude=0.15:duration={seconds}:sample_rate={RATE}[n];"
            "[t][n]amix=inputs=2,aformat=channel_layouts=stereo"
        )
        subprocess.run(
            ["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y",
             "-filter_complex", graph, "-f", "wav", "-bitexact", str(wav) + ".part"],
            check=True,
        )
        Path(str(wav) + ".part").rename(wav)
    if not mp3.exists():
        subprocess.run(lame_command(wav, kbps) + [str(mp3) + ".part"], check=True)
        Path(str(mp3) + ".part").rename(mp3)
    return wav, mp3


def lame_command(wav, kbps):
    """lame encoding a WAV file of this module, up to the output name."""
    return ["lame", "--quiet", "--nohist", "-m", "j", "-b", str(kbps), str(wav)]


def _frame_length(h):
    """The length of the MPEG audio frame whose 4-byte header is h, with the
    fields that must stay the same from frame to frame, or None when h is no
    valid header."""
    if h[0] != 0xFF or (h[1] & 0xE0) != 0xE0:
        return None
    version = (h[1] >> 3) & 3  # 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    layer = 4 - ((h[1] >> 1) & 3)
    bitrate_index = h[2] >> 4
    rate_index = (h[2] >> 2) & 3
    if version == 1 or layer == 4 or bitrate_index in (0, 15) or rate_index == 3 or (h[3] & 3) == 2:
        return None
    mpeg1 = version == 3
    bitrate = _BITRATES[(mpeg1, layer)][bitrate_index - 1] * 1000
    rate = _RATES[version][rate_index]
    pad = (h[2] >> 1) & 1
    if layer == 1:
        length = (12 * bitrate // rate + pad) * 4
    elif layer == 3 and not mpeg1:
        length = 72 * bitrate // rate + pad
    else:
        length = 144 * bitrate // rate + pad
    return length, (version, layer, rate_index)


def first_frame(data, start=0, end=None):
    """The offset of the first MPEG frame from which CHAIN frames follow one
    another (or frames up to end), or None."""
    end = len(data) if end is None else end
    pos = start
    while True:
        pos = data.find(b"\xff", pos, end - 3)
        if pos < 0:
            return None
        head = _frame_length(data[pos:pos + 4])
        if head is not None:
            length, kind = head
            at, count = pos + length, 1
            while count < CHAIN and at + 4 <= end:
                nxt = _frame_length(data[at:at + 4])
                if nxt is None or nxt[1] != kind:
                    break
                at += nxt[0]
                count += 1
            if count >= CHAIN or (count > 1 and at == end):
                return pos
        pos += 1


def trailing_tags(data):
    """(ID3v1 tag or None, APE tag or None, where the audio ends). The ID3v1 tag
    is the last 128 bytes when they start with "TAG"; an APEv2 tag (footer
    "APETAGEX") may stand before it."""
    end = len(data)
    v1 = None
    if end >= 128 and data[end - 128:end - 125] == b"TAG":
        v1 = data[end - 128:]
        end -= 128
    ape = None
    if end >= 32 and data[end - 32:end - 24] == b"APETAGEX":
        size, _count, flags = struct.unpack("<III", data[end - 20:end - 8])
        total = size + (32 if flags & 0x80000000 else 0)
        if total <= end:
            ape = data[end - total:end]
            end -= total
    return v1, ape, end


def audio_span(data):
    """(start, end) of the MPEG audio: from the first frame found by frame sync
    to the ID3v1 and APE tags at the end. start is None when no audio is found."""
    _v1, _ape, end = trailing_tags(data)
    return first_frame(data, 0, end), end
