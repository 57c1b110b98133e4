# SPDX-License-Identifier: GPL-3.0-or-later
"""Builds ID3v2, ID3v1 and APE tags byte by byte, for the layouts no tagger at
hand writes: extended headers, footers, unsynchronisation, compressed,
encrypted and grouped frames, sizes that lie, text without a byte order mark.

A frame is described by its meaning (a mutagen frame object, which is also what
the trial expects to find again) and by how it is laid out (FrameLayout). The
body bytes come from mutagen's own serialiser unless the case gives them (text
without a byte order mark, frames mutagen cannot express)."""

import struct
import zlib
from dataclasses import dataclass, field

from mutagen.id3._util import ID3SaveConfig


def synchsafe(n, width=4):
    if n >= 1 << (7 * width):
        raise ValueError(f"{n} does not fit {width} synchsafe bytes")
    return bytes((n >> (7 * i)) & 0x7F for i in reversed(range(width)))


def be32(n):
    return struct.pack(">I", n)


def unsynchronise(data):
    """Inserts a zero after every 0xFF that is followed by 0xE0 or more, or by
    zero, or that ends the data, so that no false MPEG sync remains."""
    out = bytearray()
    for i, b in enumerate(data):
        out.append(b)
        if b == 0xFF and (i + 1 == len(data) or data[i + 1] >= 0xE0 or data[i + 1] == 0):
            out.append(0)
    return bytes(out)


def body_of(frame, version):
    """The body mutagen writes for frame in an ID3v2.<version> tag (3 or 4),
    keeping the frame's own text encoding."""
    return frame._writeData(ID3SaveConfig(v2_version=4 if version == 4 else 3))


def utf16_without_bom(text, byte_order):
    """A text frame body of encoding 1 (UTF-16, which asks for a byte order
    mark) written without one, as some taggers did."""
    return b"\x01" + text.encode("utf-16-le" if byte_order == "le" else "utf-16-be")


@dataclass
class FrameLayout:
    """How one frame is stored. group and encryption are the method or group
    byte; encrypted frames hold opaque bytes (body), nothing decodes them."""

    compress: bool = False
    encryption: int | None = None
    group: int | None = None
    unsync: bool = False  # per frame, version 2.4 only
    data_length: bool = False  # version 2.4's data-length indicator
    plain_size: bool = False  # version 2.4 size as a plain 32-bit number
    status: int = 0  # the first flag byte, as it stands


@dataclass
class Fr:
    """One frame to lay out: its ID, its meaning (None for an empty frame or a
    frame whose meaning the case states otherwise) and its body bytes."""

    fid: str
    meaning: object = None
    body: bytes | None = None
    layout: FrameLayout = field(default_factory=FrameLayout)


def frame(meaning, *, body=None, fid=None, **layout):
    return Fr(fid or meaning.FrameID, meaning, body, FrameLayout(**layout))


def raw_frame(fid, body, **layout):
    return Fr(fid, None, body, FrameLayout(**layout))


def frame_bytes(fr, version):
    body = fr.body if fr.body is not None else body_of(fr.meaning, version)
    lay = fr.layout
    if version == 2:
        return fr.fid.encode("ascii") + struct.pack(">I", len(body))[1:] + body
    flags = 0
    data = body
    if version == 3:
        extra = b""
        if lay.compress:
            flags |= 0x0080
            extra += be32(len(body))
            data = zlib.compress(body)
        if lay.encryption is not None:
            flags |= 0x0040
            extra += bytes([lay.encryption])
        if lay.group is not None:
            flags |= 0x0020
            extra += bytes([lay.group])
        data = extra + data
        size = be32(len(data))
    else:
        extra = b""
        if lay.group is not None:
            flags |= 0x0040
            extra += bytes([lay.group])
        if lay.compress:
            flags |= 0x0008
            data = zlib.compress(body)
        if lay.encryption is not None:
            flags |= 0x0004
            extra += bytes([lay.encryption])
        if lay.data_length or lay.compress:
            flags |= 0x0001
            extra += synchsafe(len(body))
        data = extra + data
        if lay.unsync:
            flags |= 0x0002
            data = unsynchronise(data)
        size = be32(len(data)) if lay.plain_size else synchsafe(len(data))
    flags |= lay.status << 8
    return fr.fid.encode("ascii") + size + struct.pack(">H", flags) + data


def ext_header_v23(frames_data, padding, crc):
    flags = 0x8000 if crc else 0
    out = struct.pack(">IHI", 10 if crc else 6, flags, padding)
    if crc:
        out += be32(zlib.crc32(frames_data))
    return out


def ext_header_v24(frames_and_padding, crc, restrictions=None):
    flags = 0
    data = b""
    if crc:
        flags |= 0x20
        data += b"\x05" + synchsafe(zlib.crc32(frames_and_padding), 5)
    if restrictions is not None:
        flags |= 0x10
        data += b"\x01" + bytes([restrictions])
    body = bytes([1, flags]) + data
    return synchsafe(4 + len(body)) + body


def tag(
    version,
    frames,
    *,
    padding=0,
    unsync=False,
    ext=None,
    footer=False,
    size_extra=0,
):
    """A whole ID3v2 tag. ext is None, "v23", "v23crc", "v24" or "v24crc".
    unsync in version 2.3 (and 2.2) unsynchronises the whole tag body, in 2.4
    it sets the header flag (the frames carry their own flag as well).
    size_extra is added to the size field only: the tag then claims bytes it
    does not hold."""
    frames_data = b"".join(frame_bytes(f, version) for f in frames)
    flags = 0
    body = frames_data + bytes(padding)
    if ext is not None:
        flags |= 0x40
        if ext.startswith("v23"):
            body = ext_header_v23(frames_data, padding, ext == "v23crc") + body
        else:
            body = ext_header_v24(body, ext == "v24crc", restrictions=0x00) + body
    if unsync:
        flags |= 0x80
        if version < 4:
            body = unsynchronise(body)
    if footer:
        flags |= 0x10
    head = b"ID3" + bytes([version, 0, flags]) + synchsafe(len(body) + size_extra)
    out = head + body
    if footer:
        out += b"3DI" + bytes([version, 0, flags]) + synchsafe(len(body) + size_extra)
    return out


def id3v1(title=b"", artist=b"", album=b"", year=b"", comment=b"", track=None, genre=255):
    """An ID3v1 tag of texts given as bytes (in whatever code page the case
    wants); with a track number it is an ID3v1.1 tag."""

    def fix(b, n):
        if len(b) > n:
            raise ValueError("ID3v1 field too long")
        return b + bytes(n - len(b))

    if track is not None:
        tail = fix(comment, 28) + b"\x00" + bytes([track])
    else:
        tail = fix(comment, 30)
    return b"TAG" + fix(title, 30) + fix(artist, 30) + fix(album, 30) + fix(year, 4) + tail + bytes([genre])


def ape(items):
    """An APEv2 tag with header and footer; items maps keys to UTF-8 texts."""
    body = b""
    for key, value in items.items():
        v = value.encode("utf-8")
        body += struct.pack("<II", len(v), 0) + key.encode("ascii") + b"\x00" + v
    size = len(body) + 32

    def block(is_header):
        flags = 0x80000000 | (0x20000000 if is_header else 0)
        return b"APETAGEX" + struct.pack("<IIII", 2000, size, len(items), flags) + bytes(8)

    return block(True) + body + block(False)
