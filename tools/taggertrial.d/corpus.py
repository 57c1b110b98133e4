# SPDX-License-Identifier: GPL-3.0-or-later
"""The trial's corpus: what a case is, the texts the cases use, the library
file, and building all of it into a folder, the same bytes every time."""

import hashlib
import os
import random
import shutil
import struct
import zlib
from dataclasses import dataclass, field
from pathlib import Path
from typing import Callable

from mutagen.id3 import COMM, ID3, TALB, TCON, TIT2, TPE1, TYER

import audio
import id3read
import meaning

SMALL_SECONDS, SMALL_KBPS = 4, 128
# 5 MiB of audio at 320 kbit/s.
BIG_SECONDS, BIG_KBPS = 132, 320

_SAGA = (
    "夜明け前の静かな街を歩きながら君と交わした約束を思い出すたびに胸の奥で小さな灯がともる"
    "長い長い物語の始まりを告げる朝の歌と遠い海の向こうで生まれた旋律が風に乗って届く"
)
_TALE = (
    "遠い海の向こうで生まれた歌が風に乗ってこの街まで届いたあの日から僕らの季節は"
    "少しずつ色を変えながら今も静かに続いているけれど誰もその終わりを知らない"
)

# The library file's fields: a title of 70 characters, which must arrive whole.
LIBRARY = {
    "title": _SAGA[:70],
    "artist": "山田太郎とザ・カラフルバンド",
    "album": "季節の記憶 ベスト・セレクション",
    "year": "2021",
    "comment": "初回限定盤より",
    "genre": "アニソン",
}
assert len(LIBRARY["title"]) == 70

# Texts the corpus files hold.
JP = {
    "title": "春の日の午後に",
    "artist": "さくら合唱団",
    "album": "四季の歌",
    "comment": "ライブ録音",
    "band": "東京フィルハーモニー",
    "composer": "佐藤花子",
    "lyrics": "春の日の午後に\n君と歩いた道\nもう一度だけ",
    "user_desc": "気分",
    "user_text": "静かな午後",
}
LONG_TITLE = (_TALE + "、" + _SAGA)[:75]
LONG_ALBUM = (_SAGA + _TALE)[20:100]
LONG_TEXT = (_TALE + _SAGA)[10:90]
assert len(LONG_TITLE) == 75 and len(LONG_ALBUM) == 80 and len(LONG_TEXT) == 80


@dataclass
class Case:
    """One corpus file. make(ctx, path) writes it, and may return what its tags
    mean: a list of mutagen frames, or id3read.RawFrame for frames that mean
    their bytes. frames, when given, is that meaning; otherwise the reader
    finds out from the file. fields, when given, is what the file reads as when
    it is the library file (for tags without ID3v2 frames, or whose frames mean
    something else to mutagen); otherwise it comes from the frames.
    reader_agrees is False for a case whose tags the reader cannot read as they
    were built (UTF-16 without byte order mark in big-endian order)."""

    name: str
    writer: str
    layout: str
    make: Callable
    big: bool = False
    frames: list | None = None
    fields: dict | None = None
    reader_agrees: bool = True
    seed: int = 0
    path: Path | None = None
    expected_frames: list = field(default_factory=list)
    expected_fields: dict = field(default_factory=dict)


class Context:
    """What the makers need: audio, pictures, a scratch folder and the
    environment the taggers run in (their own HOME, so no user setting counts)."""

    def __init__(self, scratch):
        self.cache = scratch / "audio"
        self.tmp = scratch / "tmp"
        self.tmp.mkdir(parents=True, exist_ok=True)
        home = scratch / "home"
        home.mkdir(parents=True, exist_ok=True)
        self.env = dict(os.environ, HOME=str(home), LANG="C.UTF-8", LC_ALL="C.UTF-8",
                        XDG_CONFIG_HOME=str(home / ".config"), QT_QPA_PLATFORM="offscreen")
        self.picture_small = png_picture(16, 16, 1)
        self.picture_large = png_picture(288, 288, 2)  # about 250 KB
        self.case = None

    def audio(self):
        """(WAV, plain MP3) for the case being made."""
        seconds, kbps = (BIG_SECONDS, BIG_KBPS) if self.case.big else (SMALL_SECONDS, SMALL_KBPS)
        return audio.make_mp3(self.cache, self.case.seed, seconds, kbps)

    def plain_mp3(self):
        return self.audio()[1].read_bytes()

    def picture_file(self, large=False):
        p = self.tmp / ("large.png" if large else "small.png")
        if not p.exists():
            p.write_bytes(self.picture_large if large else self.picture_small)
        return p


def png_picture(width, height, seed):
    """A PNG picture of noise (which does not compress) of the given size."""
    rng = random.Random(seed)
    rows = b"".join(b"\x00" + rng.randbytes(width * 3) for _ in range(height))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows, 9))
            + chunk(b"IEND", b""))


def seed_of(name):
    """The case's own audio seed; 0 and 1 are the library and plain work files'."""
    return zlib.crc32(name.encode()) % 100000 + 2


def make_library_file(ctx, path):
    """The library file of every work-file run: a clean ID3v2.3 tag (UTF-16)."""
    _wav, mp3 = audio.make_mp3(ctx.cache, 0, SMALL_SECONDS, SMALL_KBPS)
    shutil.copyfile(mp3, path)
    tag = ID3()
    tag.add(TIT2(encoding=1, text=[LIBRARY["title"]]))
    tag.add(TPE1(encoding=1, text=[LIBRARY["artist"]]))
    tag.add(TALB(encoding=1, text=[LIBRARY["album"]]))
    tag.add(TYER(encoding=1, text=[LIBRARY["year"]]))
    tag.add(COMM(encoding=1, lang="jpn", desc="", text=[LIBRARY["comment"]]))
    tag.add(TCON(encoding=1, text=[LIBRARY["genre"]]))
    tag.save(path, v2_version=3, v1=0)


def make_plain_work_file(ctx, path):
    """The work file of every library-file run: audio without a tag."""
    _wav, mp3 = audio.make_mp3(ctx.cache, 1, SMALL_SECONDS, SMALL_KBPS)
    shutil.copyfile(mp3, path)


def build(cases, folder, log):
    """Writes every case's file into folder and settles what each is expected
    to hold. Returns the lines of the manifest (name and SHA-256)."""
    ctx = Context(folder.parent)
    folder.mkdir(parents=True, exist_ok=True)
    manifest = []
    for number, case in enumerate(cases, 1):
        case.seed = seed_of(case.name)
        case.path = folder / f"{number:02d}-{case.name}.mp3"
        ctx.case = case
        tmp = ctx.tmp / case.path.name
        if tmp.exists():
            tmp.unlink()
        declared = case.make(ctx, tmp)
        if case.frames is None and declared is not None:
            case.frames = declared
        tmp.rename(case.path)
        data = case.path.read_bytes()
        _tags, found = id3read.frames_of(data)
        case.expected_frames = case.frames if case.frames is not None else found
        case.expected_fields = case.fields if case.fields is not None else meaning.fields_of(
            case.expected_frames)
        if case.frames is not None and case.reader_agrees:
            problems = meaning.compare(meaning.unowned_facts(case.frames), meaning.unowned_facts(found))
            declared = meaning.fields_of(case.frames)
            read = meaning.fields_of(found)
            problems += [("field", f"{k}: {read[k]!r} != {declared[k]!r}")
                         for k in meaning.FIELDS if read[k] != declared[k]]
            if problems:
                log(f"corpus: {case.path.name}: the reader does not find what was built: {problems}")
        manifest.append(f"{hashlib.sha256(data).hexdigest()}  {case.path.name}")
    (folder / "MANIFEST").write_text("\n".join(manifest) + "\n")
    return manifest
