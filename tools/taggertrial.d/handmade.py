# SPDX-License-Identifier: GPL-3.0-or-later
"""Corpus files built byte by byte, for the layouts that real files have but no
tagger at hand writes on demand. Each case states what its tags mean: the
frames it put there, whatever the layout around them."""

import random

from mutagen.id3 import (APIC, COMM, ENCR, EQU2, ETCO, GEOB, GRID, GRP1, IPLS, MCDI, MVIN,
                         MVNM, PCNT, PCST, POPM, PRIV, RVA2, RVAD, SYLT, TALB, TBPM, TCMP,
                         TCON, TCOP, TDEN, TDOR, TDRC, TDRL, TDTG, TENC, TEXT, TIPL,
                         TIT1, TIT2, TIT3, TKEY, TLEN, TMCL, TMOO, TOAL, TOPE, TPE1, TPE2,
                         TPE3, TPE4, TPOS, TPRO, TPUB, TRCK, TRDA, TSO2, TSOA, TSOP, TSOT,
                         TSRC, TSST, TXXX, TYER, UFID, USER, USLT, WOAR, WXXX,
                         Frames_2_2)

import id3bytes as B
from corpus import JP, Case
from id3read import RawFrame

# A private frame whose bytes hold MPEG sync patterns, so that unsynchronisation
# has something to do.
SYNC_BYTES = b"\xff\xfb\x90\x64\x00\xff\x00\xff\xe0\x12" * 4 + b"\xff"


def _enc(version):
    return 3 if version == 4 else 1


def standard(version, picture=b""):
    """The frames of an ordinary tag of the given version (3 or 4): the
    program's fields, and the frames it must keep."""
    e = _enc(version)
    year = TDRC(encoding=e, text=["2019-05-17"]) if version == 4 else TYER(encoding=e, text=["2019"])
    frames = [
        B.frame(TIT2(encoding=e, text=[JP["title"]])),
        B.frame(TPE1(encoding=e, text=[JP["artist"]])),
        B.frame(TALB(encoding=e, text=[JP["album"]])),
        B.frame(year),
        B.frame(TCON(encoding=e, text=["Pop"])),
        B.frame(COMM(encoding=e, lang="jpn", desc="", text=[JP["comment"]])),
        B.frame(TRCK(encoding=e, text=["3/12"])),
        B.frame(TPE2(encoding=e, text=[JP["band"]])),
        B.frame(COMM(encoding=e, lang="eng", desc="説明", text=["説明つきのコメント"])),
        B.frame(TXXX(encoding=e, desc=JP["user_desc"], text=[JP["user_text"]])),
        B.frame(USLT(encoding=e, lang="jpn", desc="", text=JP["lyrics"])),
        B.frame(PRIV(owner="kestrom-trial", data=SYNC_BYTES)),
    ]
    if picture:
        frames.append(B.frame(APIC(encoding=e, mime="image/png", type=3, desc="表紙", data=picture)))
    return frames


def meanings(frs):
    out = []
    for fr in frs:
        if fr.meaning is None:
            continue
        if fr.layout.group is not None:
            fr.meaning.trial_group = fr.layout.group
        out.append(fr.meaning)
    return out


def relaid(frs, **layout):
    """The same frames, each laid out as given."""
    return [B.Fr(f.fid, f.meaning, f.body, B.FrameLayout(**layout)) for f in frs]


def _case(name, layout, tags, big=False, tail=b"", frames=None, fields=None, reader_agrees=True):
    """A case of ID3v2 tags before the audio and tail after it. tags(ctx) gives
    [(tag bytes, the frames laid out in it)]; the frames' meanings are what the
    case declares its tags to hold, unless frames says otherwise."""

    def make(ctx, out):
        built = tags(ctx)
        out.write_bytes(b"".join(data for data, _frs in built) + ctx.plain_mp3() + tail)
        return [m for _data, frs in built for m in meanings(frs)]

    return Case(name, "built by hand", layout, make, big=big, frames=frames, fields=fields,
                reader_agrees=reader_agrees)


def _one(version, frs, **tag):
    """One tag of the given version holding the frames frs(ctx) gives."""

    def tags(ctx):
        frames = frs(ctx)
        return [(B.tag(version, frames, **tag), frames)]

    return tags


def layout_cases():
    def pic(version):
        return lambda ctx: standard(version, ctx.picture_small)

    def zlibbed(version):
        def frs(ctx):
            base = standard(version, ctx.picture_small)
            for f in base:
                if f.fid in ("APIC", "TXXX", "USLT", "TPE2", "PRIV"):
                    f.layout.compress = True
            return base

        return frs

    def encrypted(version):
        def frs(ctx):
            secret = random.Random(7).randbytes(48)
            return standard(version) + [
                B.frame(ENCR(owner="https://kestrom.invalid/cipher", method=0x80, data=b"key-id")),
                B.Fr("PRIV", RawFrame("PRIV", 0, secret, encryption=0x80), secret,
                     B.FrameLayout(encryption=0x80)),
            ]

        return frs

    def grouped(version):
        def frs(ctx):
            base = standard(version, ctx.picture_small)
            for f in base:
                if f.fid in ("TPE2", "TXXX", "APIC"):
                    f.layout.group = 0x81
            return [B.frame(GRID(owner="https://kestrom.invalid/group", group=0x81, data=b""))] + base

        return frs

    def zero_frame(version):
        def frs(ctx):
            base = standard(version, ctx.picture_small)
            return base[:3] + [B.raw_frame("TPE4", b"")] + base[3:]

        return frs

    def stacked(ctx, first=3, second=3):
        e2 = _enc(second)
        new = standard(first)[:6]
        old = [
            B.frame(TIT2(encoding=e2, text=["古いタイトル"])),
            B.frame(APIC(encoding=e2, mime="image/png", type=3, desc="", data=ctx.picture_small)),
            B.frame(TRCK(encoding=e2, text=["4"])),
            B.frame(TXXX(encoding=e2, desc="ripper", text=["old ripper 1.0"])),
        ]
        # The program owns the old tag's title; the first tag's title is what
        # a reader finds first.
        return [(B.tag(first, new, padding=64), new), (B.tag(second, old, padding=512), old)]

    def lying(extra, padding):
        return _one(3, pic(3), padding=padding, size_extra=extra)

    def plain_sizes(ctx):
        frs = standard(4, ctx.picture_small) + [B.frame(COMM(encoding=3, lang="eng", desc="iTunNORM",
                                                               text=[" 00000A2B" * 10]))]
        for f in frs:
            f.layout.plain_size = True
        return frs

    def unsynced_frames(ctx):
        return relaid(standard(4, ctx.picture_small), unsync=True, data_length=True)

    def unsynced_tag(ctx):
        return relaid(standard(4, ctx.picture_small), unsync=True)

    def data_length(ctx):
        return relaid(standard(4, ctx.picture_small), data_length=True)

    cases = [
        _case("v23-ext-header", "v2.3 extended header (size 6, padding size)",
              _one(3, pic(3), ext="v23", padding=512)),
        _case("v23-ext-header-crc", "v2.3 extended header with CRC (size 10)",
              _one(3, pic(3), ext="v23crc", padding=256)),
        _case("v24-ext-header", "v2.4 extended header with CRC and restrictions",
              _one(4, pic(4), ext="v24crc", padding=256)),
        _case("v24-footer", "v2.4 footer, no padding", _one(4, pic(4), footer=True)),
        _case("v23-unsync", "v2.3 whole-tag unsynchronisation", _one(3, pic(3), unsync=True, padding=128)),
        _case("v24-unsync-frames", "v2.4 per-frame unsynchronisation with data-length indicator",
              _one(4, unsynced_frames, padding=128)),
        _case("v24-unsync-tag", "v2.4 unsynchronisation flag in the header and every frame",
              _one(4, unsynced_tag, unsync=True, padding=128)),
        _case("v24-data-length", "v2.4 data-length indicator on every frame",
              _one(4, data_length, padding=128)),
        _case("v23-zlib", "v2.3 zlib-compressed frames", _one(3, zlibbed(3), padding=128)),
        _case("v24-zlib", "v2.4 zlib-compressed frames", _one(4, zlibbed(4), padding=128)),
        _case("v23-encrypted", "v2.3 encrypted frame and its ENCR", _one(3, encrypted(3), padding=128)),
        _case("v24-encrypted", "v2.4 encrypted frame and its ENCR", _one(4, encrypted(4), padding=128)),
        _case("v23-group", "v2.3 grouping byte (GRID and three grouped frames)",
              _one(3, grouped(3), padding=128)),
        _case("v24-group", "v2.4 grouping byte (GRID and three grouped frames)",
              _one(4, grouped(4), padding=128)),
        _case("v23-zero-frame", "v2.3 zero-size frame in the middle", _one(3, zero_frame(3), padding=128)),
        _case("v24-zero-frame", "v2.4 zero-size frame in the middle", _one(4, zero_frame(4), padding=128)),
        _case("stacked", "two v2.3 tags back to back, the second with picture and TRCK", stacked),
        _case("stacked-24-23", "a v2.4 tag, then a v2.3 tag with picture and TRCK",
              lambda ctx: stacked(ctx, 4, 3)),
        _case("stacked-big", "5 MiB, two v2.3 tags back to back", stacked, big=True),
        _case("size-plus-10", "tag size field 10 bytes more than the tag", lying(10, 0)),
        _case("size-plus-200", "tag size field 200 bytes more than the tag", lying(200, 64)),
        _case("size-plus-3000", "tag size field 3000 bytes more than the tag", lying(3000, 256)),
        _case("size-plus-20000", "tag size field 20000 bytes more than the tag", lying(20000, 0)),
        _case("size-plus-20000-big", "5 MiB, tag size field 20000 bytes more than the tag",
              lying(20000, 1024), big=True),
        _case("v24-plain-sizes", "v2.4 frame sizes as plain numbers (old iTunes)",
              _one(4, plain_sizes, padding=256)),
    ]
    return cases


def _no_bom(order):
    """Version 2.3 frames of UTF-16 text without a byte order mark."""
    codec = "utf-16-le" if order == "le" else "utf-16-be"
    z = b"\x00\x00"

    def enc(s):
        return s.encode(codec)

    def frs(ctx):
        title, artist, band = "Tokyo 東京 Night Walk", "Sakura さくら Choir", "Tokyo 東京 Phil"
        desc, value = "Mood 気分", "Quiet 静か"
        return [
            B.frame(TIT2(encoding=1, text=[title]), body=b"\x01" + enc(title)),
            B.frame(TPE1(encoding=1, text=[artist]), body=b"\x01" + enc(artist)),
            B.frame(TALB(encoding=1, text=[JP["album"]])),
            B.frame(TYER(encoding=0, text=["2019"])),
            B.frame(TPE2(encoding=1, text=[band]), body=b"\x01" + enc(band)),
            B.frame(TXXX(encoding=1, desc=desc, text=[value]), body=b"\x01" + enc(desc) + z + enc(value)),
            B.frame(COMM(encoding=1, lang="eng", desc=desc, text=[value]),
                    body=b"\x01eng" + enc(desc) + z + enc(value)),
            B.frame(COMM(encoding=1, lang="eng", desc="", text=["Live 2019 ライブ"]),
                    body=b"\x01eng" + z + enc("Live 2019 ライブ")),
        ]

    return _one(3, frs, padding=128)


def _cp932(ctx):
    """Japanese texts in code page 932 in frames marked ISO-8859-1, as older
    Japanese taggers wrote them."""
    def latin(cls, text):
        # What mutagen reads these bytes as.
        return B.frame(cls(encoding=0, text=[text.encode("cp932").decode("latin-1")]),
                       body=b"\x00" + text.encode("cp932"))

    frs = [
        latin(TIT2, JP["title"]),
        latin(TPE1, JP["artist"]),
        latin(TALB, JP["album"]),
        B.frame(TYER(encoding=0, text=["1997"])),
        B.frame(COMM(encoding=0, lang="jpn", desc="", text=[JP["comment"].encode("cp932").decode("latin-1")]),
                body=b"\x00jpn\x00" + JP["comment"].encode("cp932")),
        B.frame(TPE2(encoding=0, text=["Sakura Band"])),
        B.frame(TRCK(encoding=0, text=["2"])),
    ]
    return [(B.tag(3, frs, padding=256), frs)]


def _v22(ctx):
    """A version 2.2 tag as old iTunes wrote it."""
    F = Frames_2_2
    frs = [
        B.frame(F["TT2"](encoding=1, text=[JP["title"]]), fid="TT2"),
        B.frame(F["TP1"](encoding=1, text=[JP["artist"]]), fid="TP1"),
        B.frame(F["TAL"](encoding=1, text=[JP["album"]]), fid="TAL"),
        B.frame(F["TYE"](encoding=0, text=["2004"]), fid="TYE"),
        B.frame(F["TCO"](encoding=0, text=["(13)"]), fid="TCO"),
        B.frame(F["COM"](encoding=1, lang="eng", desc="", text=[JP["comment"]]), fid="COM"),
        B.frame(F["COM"](encoding=0, lang="eng", desc="iTunNORM", text=[" 0000044E 00000452"]), fid="COM"),
        B.frame(F["TRK"](encoding=0, text=["5/11"]), fid="TRK"),
        B.frame(F["TCM"](encoding=1, text=[JP["composer"]]), fid="TCM"),
        B.frame(F["TEN"](encoding=0, text=["iTunes v4.5"]), fid="TEN"),
        B.frame(F["PIC"](encoding=0, mime="PNG", type=3, desc="", data=ctx.picture_small), fid="PIC"),
    ]
    return [(B.tag(2, frs, padding=512), frs)]


def _kinds23(ctx):
    """The version 2.3 frame kinds beyond the common ones."""
    frs = [B.frame(f) for f in [
        TIT2(encoding=1, text=[JP["title"]]), TPE1(encoding=1, text=[JP["artist"]]),
        TALB(encoding=1, text=[JP["album"]]), TYER(encoding=0, text=["2019"]),
        TIT1(encoding=1, text=["作品集"]), TIT3(encoding=1, text=["副題"]),
        TPE3(encoding=1, text=["指揮者"]), TPE4(encoding=1, text=["編曲者"]),
        TEXT(encoding=1, text=["作詞者"]), TOPE(encoding=1, text=["原曲の演奏者"]),
        TOAL(encoding=1, text=["原盤"]), TPUB(encoding=1, text=["出版社"]),
        TCOP(encoding=0, text=["2019 Trial"]), TENC(encoding=0, text=["encoder"]),
        TSRC(encoding=0, text=["JPX121900001"]), TBPM(encoding=0, text=["120"]),
        TKEY(encoding=0, text=["Am"]), TLEN(encoding=0, text=["4000"]), TPOS(encoding=0, text=["1/2"]),
        TRDA(encoding=0, text=["May 17-18, 2019"]),
        UFID(owner="http://musicbrainz.org", data=b"0b8a3c3e-1d62-4a5a-8f0a-5f2d0a6c9b11"),
        WOAR(url="https://example.com/artist"),
        WXXX(encoding=1, desc="公式", url="https://example.com/official"),
        PCNT(count=42), POPM(email="trial@kestrom.invalid", rating=128, count=7),
        GEOB(encoding=1, mime="text/plain", filename="memo.txt", desc="メモ", data="覚え書き".encode()),
        SYLT(encoding=1, lang="jpn", format=2, type=1, desc="", text=[("春の", 0), ("日の", 1000)]),
        ETCO(format=2, events=[(3, 0), (4, 1500)]),
        MCDI(data=bytes.fromhex("0012011000000096")),
        RVAD(adjustments=[1, 2]),
        IPLS(encoding=1, people=[["producer", "鈴木"], ["engineer", "田中"]]),
        USER(encoding=1, lang="jpn", text="利用条件"),
    ]]
    return [(B.tag(3, frs, padding=256), frs)]


def _kinds24(ctx):
    """The version 2.4 frames that version 2.3 lacks."""
    frs = [B.frame(f) for f in [
        TIT2(encoding=3, text=[JP["title"]]), TPE1(encoding=3, text=[JP["artist"]]),
        TALB(encoding=3, text=[JP["album"]]), TDRC(encoding=0, text=["2019-05-17T20:30"]),
        TDOR(encoding=0, text=["2001-02-03"]), TDRL(encoding=0, text=["2019-06-01"]),
        TDEN(encoding=0, text=["2019-05-20"]), TDTG(encoding=0, text=["2024-01-02T03:04:05"]),
        TMOO(encoding=3, text=["穏やか"]), TPRO(encoding=3, text=["2019 さくらレコード"]),
        TSOA(encoding=3, text=["Shiki no Uta"]), TSOP(encoding=3, text=["Sakura Gasshoudan"]),
        TSOT(encoding=3, text=["Haru no Hi"]), TSST(encoding=3, text=["第一部"]),
        TIPL(encoding=3, people=[["producer", "鈴木"]]),
        TMCL(encoding=3, people=[["piano", "木村"]]),
        RVA2(desc="album", channel=1, gain=-2.0, peak=0.5),
        EQU2(method=1, desc="eq", adjustments=[(100.0, 1.5)]),
    ]]
    return [(B.tag(4, frs, padding=256), frs)]


def _unknown(ctx):
    """Frames outside the standard that real taggers write."""
    frs = [B.frame(f) for f in [
        TIT2(encoding=1, text=[JP["title"]]), TPE1(encoding=1, text=[JP["artist"]]),
        TYER(encoding=0, text=["2019"]), TCMP(encoding=0, text=["1"]), TSO2(encoding=1, text=["Band"]),
        GRP1(encoding=1, text=["グループ"]), MVNM(encoding=1, text=["第一楽章"]), MVIN(encoding=0, text=["1/4"]),
        PCST(value=0),
    ]]
    frs += [
        B.Fr("XDOR", RawFrame("XDOR", 0, b"\x002001-02-03"), b"\x002001-02-03"),
        B.Fr("NCON", RawFrame("NCON", 0, b"MusicMatch\x00\x01\x02"), b"MusicMatch\x00\x01\x02"),
        B.Fr("XSOP", RawFrame("XSOP", 0, b"\x00Sakura"), b"\x00Sakura"),
    ]
    return [(B.tag(3, frs, padding=256), frs)]


def encoding_cases():
    v1_latin = B.id3v1(b"Morning Walk", b"The Walkers", b"Sunday Songs", b"1999", b"first press", 5, 13)
    v1_cp932 = B.id3v1(JP["title"].encode("cp932"), JP["artist"].encode("cp932"),
                       JP["album"].encode("cp932"), b"2001", JP["comment"].encode("cp932"), 3, 255)
    ape = B.ape({"Title": "Morning Walk", "Artist": "The Walkers", "Album": "Sunday Songs",
                 "Year": "1999", "Comment": "first press", "Genre": "Pop", "MOOD": "calm",
                 "REPLAYGAIN_TRACK_GAIN": "-6.20 dB"})
    latin_fields = {"title": "Morning Walk", "artist": "The Walkers", "album": "Sunday Songs",
                    "year": "1999", "comment": "first press", "genre": "Pop"}
    jp_fields = {"title": JP["title"], "artist": JP["artist"], "album": JP["album"], "year": "1997",
                 "comment": JP["comment"], "genre": ""}
    return [
        _case("utf16-no-bom-le", "UTF-16 without byte order mark, little-endian", _no_bom("le")),
        _case("utf16-no-bom-be", "UTF-16 without byte order mark, big-endian", _no_bom("be"),
              reader_agrees=False),
        _case("v23-cp932-latin1", "code page 932 bytes in ISO-8859-1 frames", _cp932,
              fields=jp_fields, reader_agrees=False),
        _case("v22-itunes", "v2.2 tag (TT2, COM, PIC...) as old iTunes wrote", _v22),
        _case("v23-frame-kinds", "v2.3 frame kinds: SYLT, ETCO, MCDI, RVAD, TRDA, GEOB, IPLS...", _kinds23),
        _case("v24-frame-kinds", "v2.4-only frames: TDEN, TDTG, TSOx, TSST, TPRO, TIPL, TMCL, RVA2, EQU2",
              _kinds24),
        _case("v23-nonstandard", "frames outside the standard: TCMP, TSO2, GRP1, MVNM, PCST, XDOR, NCON...", _unknown),
        _case("id3v1-latin", "ID3v1.1 only (track 5, genre Pop)", lambda ctx: [], tail=v1_latin,
              frames=[], fields=latin_fields),
        _case("id3v1-cp932", "ID3v1.1 only, code page 932 Japanese", lambda ctx: [], tail=v1_cp932,
              frames=[], fields=dict(jp_fields, year="2001")),
        _case("ape-id3v1", "APEv2 tag and ID3v1 tag at the end", lambda ctx: [], tail=ape + v1_latin,
              frames=[], fields=latin_fields),
    ]


def cases():
    return layout_cases() + encoding_cases()
