#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""A stand-in for kestrom-cli, in Python, that does what a correct run does to
the trial's files: it shows that every check of the trial can be met, so that
a failure the trial reports is the program's, not the trial's.

Usage: reference_cli.py LIBRARY WORK (no options, no karaoke names, no moves:
only what the trial uses). It reads the library file's fields from its ID3v2
tag (all tags at the head, any layout), else its ID3v1 tag; writes them into
the work file's one ID3v2.3 tag, which keeps every other frame in its version
2.3 form; writes the ID3v1 tag; and leaves a file that already holds all that
alone."""

import os
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from mutagen.id3 import APIC, COMM, IPLS, TALB, TCON, TIT2, TORY, TPE1, TXXX, TYER  # noqa: E402

import audio  # noqa: E402
import id3bytes as B  # noqa: E402
import id3read  # noqa: E402
import meaning  # noqa: E402
from id3read import RawFrame  # noqa: E402

ROOM = 2048


def looks_japanese(text):
    return any("\u3000" <= c <= "\u30ff" for c in text)


def from_latin1(text):
    """Text of a frame marked ISO-8859-1, read as code page 932 when its bytes
    form Japanese text there."""
    try:
        raw = text.encode("latin-1")
        japanese = raw.decode("cp932")
    except UnicodeError:
        return text
    return japanese if looks_japanese(japanese) else text


def utf16_guess(data):
    """UTF-16 text without a byte order mark: the byte order in which more
    characters are plain ASCII wins."""
    even = sum(1 for i in range(0, len(data) - 1, 2) if data[i] == 0 and data[i + 1] != 0)
    odd = sum(1 for i in range(0, len(data) - 1, 2) if data[i + 1] == 0 and data[i] != 0)
    return "\ufeff".encode("utf-16-be") if even > odd else "\ufeff".encode("utf-16-le")


def add_missing_boms(raw):
    """The frame's content with a byte order mark put before each UTF-16 text
    of the frames whose layout is plain (text frames, TXXX, COMM, USLT) that
    lacks one."""
    body = raw.content
    if not body or body[0] != 1 or not (raw.fid[0] == "T" or raw.fid in ("COMM", "USLT")):
        return body
    head, rest = body[:1], body[1:]
    if raw.fid in ("COMM", "USLT"):
        head, rest = body[:4], body[4:]
    parts, out = [], bytearray()
    i = 0
    while i + 1 < len(rest):
        if rest[i] == 0 and rest[i + 1] == 0:
            parts.append(rest[:i])
            rest = rest[i + 2:]
            i = 0
            continue
        i += 2
    parts.append(rest)
    for n, part in enumerate(parts):
        if n:
            out += b"\x00\x00"
        if part and part[:2] not in (b"\xff\xfe", b"\xfe\xff"):
            part = utf16_guess(part) + part
        out += part
    return bytes(head + out)


def read_frames(data):
    """The tags at the head of data, and what their frames mean, with UTF-16
    texts lacking a byte order mark read in the order they were written."""
    tags = id3read.read_tags(data)
    frames = []
    for t in tags:
        for raw in t.frames:
            if raw.encryption is None and not raw.problem:
                raw.content = add_missing_boms(raw)
            frames.append(id3read.decode(raw, t.version))
    return tags, frames


def id3v1_text(b):
    b = b.split(b"\x00", 1)[0].rstrip(b" ")
    try:
        text = b.decode("cp932")
        if looks_japanese(text) or b.isascii():
            return text
    except UnicodeError:
        pass
    return b.decode("latin-1")


def library_fields(data):
    _tags, frames = read_frames(data)
    fields = meaning.fields_of(frames)
    for name in ("title", "artist", "album", "comment"):
        fields[name] = from_latin1(fields[name])
    if any(fields.values()):
        return fields
    v1, _ape, _end = audio.trailing_tags(data)
    if v1 is None:
        return None
    genre = TCON.GENRES[v1[127]] if v1[127] < len(TCON.GENRES) else ""
    return {"title": id3v1_text(v1[3:33]), "artist": id3v1_text(v1[33:63]),
            "album": id3v1_text(v1[63:93]), "year": id3v1_text(v1[93:97]),
            "comment": id3v1_text(v1[97:125] if v1[125] == 0 else v1[97:127]), "genre": genre}


def as_v23(m):
    """The frames that stand for m in a version 2.3 tag."""
    if isinstance(m, RawFrame):
        return [B.Fr(m.fid, None, m.content, B.FrameLayout(encryption=m.encryption, group=m.group))]
    group = getattr(m, "trial_group", None)
    if len(m.FrameID) == 3:
        m = m._upgrade_frame()
    if isinstance(m, APIC) and "/" not in m.mime:
        m.mime = {"PNG": "image/png", "JPG": "image/jpeg"}.get(m.mime.upper(), m.mime)
    if getattr(m, "encoding", 0) in (2, 3):
        m.encoding = 1
    fid = m.FrameID
    if fid == "TDOR":
        date = str(m.text[0])
        out = [TORY(encoding=0, text=[date[:4]])]
        if len(date) > 4:
            out.append(TXXX(encoding=0, desc="TDOR", text=[date]))
    elif fid in meaning.V24_ONLY_TEXT:
        out = [TXXX(encoding=1, desc=fid, text=[str(t) for t in m.text])]
    else:
        out = [m]
    return [B.Fr(f.FrameID, f, None, B.FrameLayout(group=group)) for f in out]


def new_frames(fields, frames):
    owned = [
        TIT2(encoding=1, text=[fields["title"]]),
        TPE1(encoding=1, text=[fields["artist"]]),
        TALB(encoding=1, text=[fields["album"]]),
        TYER(encoding=1, text=[fields["year"]]),
        COMM(encoding=1, lang="jpn", desc="", text=[fields["comment"]]),
        TCON(encoding=1, text=[fields["genre"]]),
    ]
    out = [B.frame(f) for f in owned if str(f) != ""]
    people = []
    for m in frames:
        if meaning.is_owned(m):
            continue
        if meaning.frame_id(m) in meaning.PEOPLE and not isinstance(m, RawFrame):
            people += m.people
            continue
        out += as_v23(m)
    if people:
        out.append(B.frame(IPLS(encoding=1, people=people)))
    return out


def id3v1(fields, old):
    def cut(text, n):
        b = text.encode("cp932", errors="replace")
        while len(b) > n:
            text = text[:-1]
            b = text.encode("cp932", errors="replace")
        return b

    track = old[126] if old is not None and old[125] == 0 and old[126] != 0 else None
    genre = TCON.GENRES.index(fields["genre"]) if fields["genre"] in TCON.GENRES else 255
    return B.id3v1(cut(fields["title"], 30), cut(fields["artist"], 30), cut(fields["album"], 30),
                   cut(fields["year"], 4), cut(fields["comment"], 28 if track else 30), track, genre)


def write(path, fields):
    data = path.read_bytes()
    start, _end = audio.audio_span(data)
    if start is None:
        return False
    _tags, frames = read_frames(data)
    v1, _ape, end = audio.trailing_tags(data)
    body = B.tag(3, new_frames(fields, frames))
    if len(body) <= start:
        tag = B.tag(3, new_frames(fields, frames), padding=start - len(body))
    else:
        tag = B.tag(3, new_frames(fields, frames), padding=ROOM)
    new = tag + data[start:len(data) - (128 if v1 is not None else 0)] + id3v1(fields, v1)
    if new == data:
        return True  # already holds it all: a run writes nothing
    tmp = path.with_name(f".{path.name}.reference")
    tmp.write_bytes(new)
    os.replace(tmp, path)
    return True


def main(argv):
    library, work = Path(argv[1]), Path(argv[2])
    found = {name: Path(d) / name for d, _dirs, names in os.walk(library) for name in names}
    failed = False
    for entry in sorted(work.iterdir()):
        if entry.suffix.lower() != ".mp3" or entry.name not in found:
            continue
        fields = library_fields(found[entry.name].read_bytes())
        if fields is None or not write(entry, fields):
            print(entry.name)
            failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
