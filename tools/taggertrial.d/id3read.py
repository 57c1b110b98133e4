# SPDX-License-Identifier: GPL-3.0-or-later
"""Reads the ID3v2 tags at the head of an MP3 file, independently of the
program under trial.

mutagen decodes what each frame means. The layout around the frames is walked
here, because mutagen reads only the first of several tags, keeps a grouping
byte as part of the frame's content, and trusts a tag's size field: the walk
covers every tag back to back, undoes unsynchronisation, data-length
indicators, grouping and compression as each version lays them out, and never
reads a tag past the first MPEG frame (found by frame sync)."""

import re
import zlib
from dataclasses import dataclass, field

from mutagen.id3 import Frames, Frames_2_2
from mutagen.id3._tags import ID3Header
from mutagen.id3._util import ID3JunkFrameError

import audio

_ID = {2: re.compile(rb"[A-Z0-9]{3}\Z"), 3: re.compile(rb"[A-Z0-9]{4}\Z"), 4: re.compile(rb"[A-Z0-9]{4}\Z")}


@dataclass
class RawFrame:
    """A frame as stored: content is what the frame holds once its layout is
    undone (for an encrypted frame, the encrypted bytes)."""

    fid: str
    flags: int
    content: bytes
    group: int | None = None
    encryption: int | None = None
    problem: str | None = None


@dataclass
class Tag:
    offset: int
    version: int  # 2, 3 or 4
    flags: int
    size: int  # the whole tag as its header claims it: header, body, footer
    frames: list = field(default_factory=list)
    claims_audio: bool = False  # its size reaches past the first MPEG frame
    plain_sizes: bool = False  # version 2.4 frame sizes as plain numbers
    problems: list = field(default_factory=list)


def deunsynchronise(data):
    return data.replace(b"\xff\x00", b"\xff")


def _header_ok(h):
    return (
        len(h) == 10
        and h[:3] == b"ID3"
        and h[3] in (2, 3, 4)
        and h[4] != 0xFF
        and all(b < 0x80 for b in h[6:10])
    )


def _synchsafe(b):
    n = 0
    for x in b:
        n = (n << 7) | (x & 0x7F)
    return n


def _walk(body, version, synchsafe_sizes):
    """Splits a tag body into (id, flags, data) triples, reading frame sizes as
    synchsafe numbers or plain ones. Returns them with the offset where the
    walk stopped and whether it stopped cleanly (at padding or the end, never
    inside a frame or at an ID that is none)."""
    head = 6 if version == 2 else 10
    out, pos = [], 0
    while pos + head <= len(body):
        fid = body[pos:pos + (3 if version == 2 else 4)]
        if fid[0] == 0:
            return out, pos, not body[pos:].strip(b"\x00")
        if not _ID[version].match(fid):
            return out, pos, False
        if version == 2:
            size, flags = int.from_bytes(body[pos + 3:pos + 6], "big"), 0
        else:
            raw = body[pos + 4:pos + 8]
            size = _synchsafe(raw) if synchsafe_sizes else int.from_bytes(raw, "big")
            if synchsafe_sizes and any(b >= 0x80 for b in raw):
                return out, pos, False
            flags = int.from_bytes(body[pos + 8:pos + 10], "big")
        if pos + head + size > len(body):
            return out, pos, False
        out.append((fid.decode("ascii"), flags, body[pos + head:pos + head + size]))
        pos += head + size
    return out, pos, not body[pos:].strip(b"\x00")


def _frame(version, tag_unsync, fid, flags, data):
    f = RawFrame(fid, flags, b"")
    try:
        if version == 3:
            usize = None
            if flags & 0x0080:
                usize, data = int.from_bytes(data[:4], "big"), data[4:]
            if flags & 0x0040:
                f.encryption, data = data[0], data[1:]
            if flags & 0x0020:
                f.group, data = data[0], data[1:]
            if flags & 0x0080 and f.encryption is None:
                data = zlib.decompress(data)
                if len(data) != usize:
                    f.problem = "decompressed size differs from the stated one"
        elif version == 4:
            if flags & 0x0002 or tag_unsync:
                data = deunsynchronise(data)
            if flags & 0x0040:
                f.group, data = data[0], data[1:]
            if flags & 0x0004:
                f.encryption, data = data[0], data[1:]
            if flags & 0x0001:
                data = data[4:]
            if flags & 0x0008 and f.encryption is None:
                data = zlib.decompress(data)
    except (IndexError, zlib.error) as e:
        f.problem = f"layout: {e}"
    f.content = data
    return f


def read_tags(data, audio_start=None):
    """Every ID3v2 tag from the start of data, back to back. A tag's body is
    read no further than audio_start (the first MPEG frame), whatever its size
    field says."""
    if audio_start is None:
        audio_start, _end = audio.audio_span(data)
        if audio_start is None:
            audio_start = len(data)
    tags, pos = [], 0
    while pos < audio_start and _header_ok(data[pos:pos + 10]):
        h = data[pos:pos + 10]
        version, flags = h[3], h[5]
        body_size = _synchsafe(h[6:10])
        size = 10 + body_size + (10 if version == 4 and flags & 0x10 else 0)
        t = Tag(pos, version, flags, size)
        t.claims_audio = pos + size > audio_start
        body = data[pos + 10:min(pos + 10 + body_size, audio_start)]
        if version < 4 and flags & 0x80:
            body = deunsynchronise(body)
        if flags & 0x40 and version >= 3:
            if version == 3:
                body = body[4 + int.from_bytes(body[:4], "big"):]
            else:
                body = body[_synchsafe(body[:4]):]
        triples, _stop, clean = _walk(body, version, version == 4)
        if version == 4 and not clean:
            # Old taggers wrote version 2.4 frame sizes as plain numbers.
            plain, _stop2, clean2 = _walk(body, version, False)
            if clean2:
                triples, t.plain_sizes, clean = plain, True, True
        if not clean:
            t.problems.append("frames end in bytes that are neither a frame nor padding")
        for fid, fflags, fdata in triples:
            if not fdata:
                continue  # an empty frame holds nothing to keep
            t.frames.append(_frame(version, version == 4 and bool(flags & 0x80), fid, fflags, fdata))
        tags.append(t)
        if t.claims_audio:
            break
        pos += size
    return tags


def decode(raw, version):
    """What a frame means: a mutagen frame object, or the RawFrame itself when
    mutagen does not know the frame, cannot read it, or it is encrypted."""
    if raw.encryption is not None or raw.problem:
        return raw
    table = Frames_2_2 if version == 2 else Frames
    cls = table.get(raw.fid)
    if cls is None:
        return raw
    header = ID3Header()
    header.version = (2, version, 0)
    try:
        frame = cls._fromData(header, 0, raw.content)
    except (ID3JunkFrameError, NotImplementedError, ValueError):
        return raw
    frame.trial_group = raw.group
    return frame


def frames_of(data):
    """(tags, meanings): the tags at the head of data and what all their frames
    mean, in order, the frames of all tags together."""
    tags = read_tags(data)
    meanings = [decode(f, t.version) for t in tags for f in t.frames]
    return tags, meanings
