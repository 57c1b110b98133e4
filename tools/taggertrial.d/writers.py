# SPDX-License-Identifier: GPL-3.0-or-later
"""Corpus files written by the taggers people use: mutagen (ID3v2.3 and 2.4),
id3v2 (id3lib), eyeD3 (2.3 and 2.4), kid3-cli, ffmpeg's ID3v2 muxer (2.3 and
2.4) and lame's own tagging. What each file holds is read back from it: these
cases state only how the tagger was asked."""

import shutil
import subprocess

from mutagen.id3 import (APIC, COMM, ID3, IPLS, POPM, PRIV, RVA2, TALB, TCOM, TCON, TDOR,
                         TDRC, TDRL, TIPL, TIT2, TMOO, TORY, TPE1, TPE2, TPOS, TRCK, TSOP,
                         TXXX, TYER, UFID, USLT, WOAR)

import audio
from corpus import BIG_KBPS, JP, LONG_ALBUM, LONG_TEXT, LONG_TITLE, SMALL_KBPS, Case


def run(ctx, cmd):
    done = subprocess.run([str(c) for c in cmd], env=ctx.env, stdin=subprocess.DEVNULL,
                          capture_output=True, text=True)
    if done.returncode != 0:
        raise RuntimeError(f"{cmd[0]} failed ({done.returncode}): {done.stderr.strip()[:400]}")
    return done


def copy_plain(ctx, out):
    shutil.copyfile(ctx.audio()[1], out)


# mutagen ---------------------------------------------------------------------


def _mutagen(version, frames, padding=None, v1=0):
    def make(ctx, out):
        copy_plain(ctx, out)
        tag = ID3()
        for f in frames(ctx):
            tag.add(f)
        pad = None if padding is None else (lambda _info: padding)
        tag.save(out, v2_version=version, v23_sep="/", v1=v1, padding=pad)

    return make


def _basics(enc, year_frame):
    return [
        TIT2(encoding=enc, text=[JP["title"]]),
        TPE1(encoding=enc, text=[JP["artist"]]),
        TALB(encoding=enc, text=[JP["album"]]),
        year_frame,
        TCON(encoding=enc, text=["Pop"]),
        COMM(encoding=enc, lang="jpn", desc="", text=[JP["comment"]]),
        TRCK(encoding=enc, text=["3/12"]),
        TPE2(encoding=enc, text=[JP["band"]]),
    ]


def _extras(ctx, enc, picture_large=False):
    return [
        COMM(encoding=enc, lang="eng", desc="説明", text=["コメント（説明つき）"]),
        TXXX(encoding=enc, desc=JP["user_desc"], text=[JP["user_text"]]),
        USLT(encoding=enc, lang="jpn", desc="", text=JP["lyrics"]),
        APIC(encoding=enc, mime="image/png", type=3, desc="表紙",
             data=ctx.picture_large if picture_large else ctx.picture_small),
        POPM(email="trial@kestrom.invalid", rating=196, count=12),
        PRIV(owner="WM/MediaClassPrimaryID", data=bytes(range(256))[::7] + b"\xff\xfb\x90\x64"),
        UFID(owner="http://musicbrainz.org", data=b"5a1b7c58-7a5e-4c0e-9b8e-1d3f0c7e2a11"),
        TCOM(encoding=enc, text=[JP["composer"]]),
        TPOS(encoding=enc, text=["1/2"]),
        WOAR(url="https://example.com/artist"),
    ]


def _long(enc, year_frame):
    return [
        TIT2(encoding=enc, text=[LONG_TITLE]),
        TPE1(encoding=enc, text=[JP["artist"]]),
        TALB(encoding=enc, text=[LONG_ALBUM]),
        year_frame,
        TCON(encoding=enc, text=["Pop"]),
        COMM(encoding=enc, lang="jpn", desc="", text=[LONG_TEXT]),
        COMM(encoding=enc, lang="jpn", desc="長い説明", text=[LONG_TEXT]),
        TPE2(encoding=enc, text=[LONG_TEXT]),
        TXXX(encoding=enc, desc="長い値", text=[LONG_TEXT]),
    ]


def _v24_dates(enc):
    return [
        TDOR(encoding=enc, text=["2001-02-03"]),
        TDRL(encoding=enc, text=["2019-06-01"]),
        TMOO(encoding=enc, text=["穏やか"]),
        TSOP(encoding=enc, text=["Sakura Gasshoudan"]),
        TIPL(encoding=enc, people=[["producer", "鈴木一郎"], ["mix", "田中二郎"]]),
        RVA2(desc="track", channel=1, gain=-3.5, peak=0.875),
    ]


def mutagen_cases():
    y23 = TYER(encoding=1, text=["2019"])
    y24 = TDRC(encoding=3, text=["2019-05-17"])
    latin = [
        TIT2(encoding=0, text=["Café au lait"]),
        TPE1(encoding=0, text=["Beyoncé Knowles"]),
        TALB(encoding=0, text=["Música ligera"]),
        TYER(encoding=0, text=["1998"]),
        TCON(encoding=0, text=["(13)"]),
        COMM(encoding=0, lang="eng", desc="", text=["Grüße"]),
        TRCK(encoding=0, text=["7"]),
    ]
    return [
        Case("mutagen-23-japanese", "mutagen v2.3", "Japanese texts, track, band",
             _mutagen(3, lambda ctx: _basics(1, y23))),
        Case("mutagen-23-long", "mutagen v2.3", "texts of 75-80 characters",
             _mutagen(3, lambda ctx: _long(1, y23))),
        Case("mutagen-23-rich", "mutagen v2.3",
             "picture, lyrics, TXXX, POPM, PRIV, UFID, COMM with description, TORY, URL",
             _mutagen(3, lambda ctx: _basics(1, y23) + _extras(ctx, 1) + [TORY(encoding=0, text=["2001"])])),
        Case("mutagen-23-big", "mutagen v2.3", "5 MiB, picture of 250 KB, lyrics",
             _mutagen(3, lambda ctx: _basics(1, y23) + _extras(ctx, 1, picture_large=True)), big=True),
        Case("mutagen-23-latin1", "mutagen v2.3", "ISO-8859-1 accented texts, genre (13), ID3v1",
             _mutagen(3, lambda ctx: latin, v1=2)),
        Case("mutagen-23-roomy", "mutagen v2.3", "16 KB of padding",
             _mutagen(3, lambda ctx: _basics(1, y23) + _extras(ctx, 1)[:3], padding=16384)),
        Case("mutagen-23-tight", "mutagen v2.3", "no padding",
             _mutagen(3, lambda ctx: _basics(1, y23) + _extras(ctx, 1)[:3], padding=0)),
        Case("mutagen-24-japanese", "mutagen v2.4", "UTF-8 Japanese texts, full date",
             _mutagen(4, lambda ctx: _basics(3, y24))),
        Case("mutagen-24-long", "mutagen v2.4", "UTF-8 texts of 75-80 characters",
             _mutagen(4, lambda ctx: _long(3, y24))),
        Case("mutagen-24-rich", "mutagen v2.4",
             "TDOR/TDRL with day, TMOO, TSOP, TIPL, RVA2, picture, lyrics, PRIV...",
             _mutagen(4, lambda ctx: _basics(3, y24) + _extras(ctx, 3) + _v24_dates(3))),
        Case("mutagen-24-utf16", "mutagen v2.4", "UTF-16 texts, TDOR of a year, date and time",
             _mutagen(4, lambda ctx: _basics(1, TDRC(encoding=1, text=["2019-05-17T20:30:00"]))
                      + [TDOR(encoding=1, text=["1999"]), TMOO(encoding=1, text=["静か"])])),
        Case("mutagen-24-multi", "mutagen v2.4", "several values in TCOM, TPE2, TXXX",
             _mutagen(4, lambda ctx: _basics(3, y24)[:6] + [
                 TCOM(encoding=3, text=["佐藤花子", "田中太郎"]),
                 TPE2(encoding=3, text=["合唱団", "管弦楽団"]),
                 TXXX(encoding=3, desc="ARTISTS", text=["一", "二", "三"]),
                 IPLS(encoding=3, people=[["guitar", "木村"]])])),
        Case("mutagen-24-big", "mutagen v2.4", "5 MiB, picture of 250 KB, dates",
             _mutagen(4, lambda ctx: _basics(3, y24) + _extras(ctx, 3, picture_large=True)
                      + _v24_dates(3)[:3]), big=True),
    ]


# id3v2 (id3lib) -----------------------------------------------------------------


def _id3v2(args):
    def make(ctx, out):
        copy_plain(ctx, out)
        run(ctx, ["id3v2"] + args + [out])

    return make


def id3v2_cases():
    latin = ["-t", "Morning Walk", "-a", "The Walkers", "-A", "Sunday Songs", "-y", "1999",
             "-T", "5/10", "-g", "13", "-c", "liner:first press:eng", "--TXXX", "mood:calm",
             "--TPE2", "Walkers Band", "--TCOM", "J. Smith", "--TCOP", "(c) 1999 Walk Records"]
    japanese = ["-t", JP["title"], "-a", JP["artist"], "-A", JP["album"], "-y", "2019",
                "-T", "3", "-g", "13", "--TPE2", JP["band"], "--TCOM", JP["composer"]]
    long = ["-t", LONG_TITLE, "-a", JP["artist"], "-A", LONG_ALBUM, "-y", "2019",
            "--TPE2", LONG_TEXT]
    return [
        Case("id3v2-latin", "id3v2 (id3lib)", "Latin texts, genre (13), COMM with description, TXXX, ID3v1",
             _id3v2(latin)),
        Case("id3v2-japanese", "id3v2 (id3lib)", "Japanese texts, track, ID3v1", _id3v2(japanese)),
        Case("id3v2-long", "id3v2 (id3lib)", "texts of 75-80 characters", _id3v2(long)),
        Case("id3v2-big", "id3v2 (id3lib)", "5 MiB, Latin texts", _id3v2(latin), big=True),
    ]


# eyeD3 --------------------------------------------------------------------------


def _eyed3(args, lyrics=False, picture=None):
    def make(ctx, out):
        copy_plain(ctx, out)
        extra = []
        if lyrics:
            lyr = ctx.tmp / "lyrics.txt"
            lyr.write_text(JP["lyrics"], encoding="utf-8")
            extra += ["--add-lyrics", f"{lyr}:歌詞:jpn"]
        if picture is not None:
            extra += ["--add-image", f"{ctx.picture_file(picture == 'large')}:FRONT_COVER:表紙"]
        run(ctx, ["eyeD3", "--no-config", "--no-color", "-Q"] + args + extra + [out])

    return make


def eyed3_cases():
    rich = ["-t", JP["title"], "-a", JP["artist"], "-A", JP["album"], "-b", JP["band"],
            "-n", "3", "-N", "12", "-G", "Pop", "-c", JP["comment"],
            "--add-comment", "説明つきのコメント:説明:jpn",
            "--composer", JP["composer"], "--recording-date", "2019-05-17",
            "--orig-release-date", "2001-02-03",
            "--user-text-frame", f"{JP['user_desc']}:{JP['user_text']}",
            "--add-popularity", "trial@kestrom.invalid:196:12",
            "--unique-file-id", "kestrom-trial:5a1b7c58",
            "--url-frame", "WOAR:https://example.com/artist", "--publisher", "さくらレコード"]
    v24 = ["--to-v2.4", "--text-frame", "TMOO:穏やか", "--release-date", "2019-06-01"]
    long = ["-t", LONG_TITLE, "-a", JP["artist"], "-A", LONG_ALBUM, "-c", LONG_TEXT,
            "-b", LONG_TEXT, "--recording-date", "2019", "-G", "Pop",
            "--user-text-frame", f"長い値:{LONG_TEXT}"]
    return [
        Case("eyed3-24-rich", "eyeD3 v2.4",
             "UTF-8, TDRC/TDOR/TDRL with day, TMOO, picture, lyrics, POPM, UFID, URL",
             _eyed3(rich + v24, lyrics=True, picture="small")),
        Case("eyed3-24-long", "eyeD3 v2.4", "texts of 75-80 characters", _eyed3(["--to-v2.4"] + long)),
        Case("eyed3-24-utf16be", "eyeD3 v2.4", "UTF-16BE texts (encoding 2)",
             _eyed3(["--to-v2.4", "--encoding", "utf16-be"] + rich[:14] + ["--text-frame", "TMOO:静か"])),
        Case("eyed3-24-big", "eyeD3 v2.4", "5 MiB, picture of 250 KB",
             _eyed3(rich + v24, picture="large"), big=True),
        Case("eyed3-23-rich", "eyeD3 v2.3", "UTF-16, TORY and XDOR, picture, lyrics, POPM, UFID",
             _eyed3(["--to-v2.3"] + rich, lyrics=True, picture="small")),
        Case("eyed3-23-long", "eyeD3 v2.3", "texts of 75-80 characters", _eyed3(["--to-v2.3"] + long)),
    ]


# kid3-cli -----------------------------------------------------------------------


def _kid3(version, sets, picture=None):
    def make(ctx, out):
        copy_plain(ctx, out)
        home = ctx.tmp / "kid3-home"
        shutil.rmtree(home, ignore_errors=True)
        home.mkdir()
        env = dict(ctx.env, HOME=str(home), XDG_CONFIG_HOME=str(home / ".config"))
        commands = [f"config Tag.id3v2Version ID3v2_{version}_0",
                    "config Tag.textEncoding " + ("TE_UTF8" if version == 4 else "TE_ISO8859_1")]
        commands += [f"set '{name}' '{value}'" for name, value in sets]
        if picture is not None:
            commands.append(f"set picture:'{ctx.picture_file(picture == 'large')}' '表紙'")
        cmd = ["kid3-cli"]
        for c in commands:
            cmd += ["-c", c]
        done = subprocess.run(cmd + [str(out)], env=env, stdin=subprocess.DEVNULL,
                              capture_output=True, text=True)
        if done.returncode != 0:
            raise RuntimeError(f"kid3-cli failed: {done.stderr.strip()[:400]}")

    return make


def kid3_cases():
    rich = [("title", JP["title"]), ("artist", JP["artist"]), ("album", JP["album"]),
            ("date", "2019-05-17"), ("original date", "2001-02-03"), ("mood", "穏やか"),
            ("tracknumber", "3/12"), ("genre", "Pop"), ("comment", JP["comment"]),
            ("lyrics", JP["lyrics"]), ("rating", "196"), ("album artist", JP["band"]),
            ("composer", JP["composer"]), ("release date", "2019-06-01"),
            (JP["user_desc"], JP["user_text"])]
    long = [("title", LONG_TITLE), ("artist", JP["artist"]), ("album", LONG_ALBUM),
            ("date", "2019"), ("comment", LONG_TEXT), ("album artist", LONG_TEXT)]
    return [
        Case("kid3-23-rich", "kid3-cli v2.3", "UTF-16, original date, mood, picture, lyrics, rating",
             _kid3(3, rich, picture="small")),
        Case("kid3-23-long", "kid3-cli v2.3", "texts of 75-80 characters", _kid3(3, long)),
        Case("kid3-24-rich", "kid3-cli v2.4", "UTF-8, TDOR/TDRL with day, TMOO, picture, lyrics",
             _kid3(4, rich, picture="small")),
        Case("kid3-23-big", "kid3-cli v2.3", "5 MiB, picture of 250 KB", _kid3(3, rich, picture="large"),
             big=True),
    ]


# ffmpeg -------------------------------------------------------------------------


def _ffmpeg(version, metadata, picture=None, id3v1=False):
    def make(ctx, out):
        cmd = ["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-i", ctx.audio()[1]]
        if picture is not None:
            cmd += ["-i", ctx.picture_file(picture == "large"), "-map", "0:a", "-map", "1",
                    "-metadata:s:v", "title=表紙", "-metadata:s:v", "comment=Cover (front)"]
        cmd += ["-c", "copy", "-id3v2_version", str(version), "-write_id3v1", "1" if id3v1 else "0"]
        for key, value in metadata:
            cmd += ["-metadata", f"{key}={value}"]
        run(ctx, cmd + ["-f", "mp3", out])

    return make


def ffmpeg_cases():
    common = [("title", JP["title"]), ("artist", JP["artist"]), ("album", JP["album"]),
              ("album_artist", JP["band"]), ("composer", JP["composer"]), ("date", "2019-05-17"),
              ("track", "3/12"), ("disc", "1/2"), ("genre", "Pop"), ("comment", JP["comment"]),
              ("copyright", "(c) 2019 さくらレコード"), ("mood", "穏やか")]
    v24 = [("TDOR", "2001-02-03"), ("TDRL", "2019-06-01"), ("TMOO", "穏やか")]
    long = [("title", LONG_TITLE), ("artist", JP["artist"]), ("album", LONG_ALBUM),
            ("album_artist", LONG_TEXT), ("date", "2019"), ("description", LONG_TEXT)]
    return [
        Case("ffmpeg-3-rich", "ffmpeg v2.3", "UTF-16, picture, TXXX for other keys, ID3v1",
             _ffmpeg(3, common + [("TORY", "2001")], picture="small", id3v1=True)),
        Case("ffmpeg-4-rich", "ffmpeg v2.4", "UTF-8, TDOR/TDRL with day, TMOO, picture",
             _ffmpeg(4, common + v24, picture="small")),
        Case("ffmpeg-4-long", "ffmpeg v2.4", "texts of 75-80 characters", _ffmpeg(4, long)),
        Case("ffmpeg-3-big", "ffmpeg v2.3", "5 MiB, picture of 250 KB", _ffmpeg(3, common, picture="large"),
             big=True),
    ]


# lame ---------------------------------------------------------------------------


def _lame(args, picture=None):
    def make(ctx, out):
        wav = ctx.audio()[0]
        kbps = BIG_KBPS if ctx.case.big else SMALL_KBPS
        extra = []
        if picture is not None:
            extra += ["--ti", ctx.picture_file(picture == "large")]
        run(ctx, audio.lame_command(wav, kbps) + args + extra + [out])

    return make


def lame_cases():
    utf16 = ["--add-id3v2", "--id3v2-utf16", "--tt", JP["title"], "--ta", JP["artist"],
             "--tl", JP["album"], "--ty", "2019", "--tc", JP["comment"], "--tn", "3/12",
             "--tg", "Pop", "--tv", f"TXXX={JP['user_desc']}={JP['user_text']}",
             "--tv", f"TPE2={JP['band']}", "--tv", f"TCOM={JP['composer']}",
             "--tv", "COMM=jpn:説明=説明つきのコメント"]
    latin = ["--add-id3v2", "--tt", "Morning Walk", "--ta", "The Walkers", "--tl", "Sunday Songs",
             "--ty", "1999", "--tc", "first press", "--tn", "5", "--tg", "Jazz",
             "--tv", "TXXX=mood=calm", "--tv", "TPE2=Walkers Band"]
    long = ["--id3v2-utf16", "--tt", LONG_TITLE, "--ta", JP["artist"], "--tl", LONG_ALBUM,
            "--ty", "2019", "--tv", f"TPE2={LONG_TEXT}"]
    v1 = ["--id3v1-only", "--tt", "Evening Run", "--ta", "Runners", "--tl", "Nightfall",
          "--ty", "2003", "--tc", "bonus track", "--tn", "9", "--tg", "Rock"]
    v1_fields = {"title": "Evening Run", "artist": "Runners", "album": "Nightfall", "year": "2003",
                 "comment": "bonus track", "genre": "Rock"}
    return [
        Case("lame-utf16", "lame", "UTF-16 Japanese texts, picture, TXXX, COMM with description, ID3v1",
             _lame(utf16, picture="small")),
        Case("lame-latin1", "lame", "Latin texts, TXXX, ID3v1 as well", _lame(latin)),
        Case("lame-long", "lame", "texts of 75-80 characters", _lame(long)),
        Case("lame-id3v1", "lame", "ID3v1 only", _lame(v1), frames=[], fields=v1_fields),
        Case("lame-big", "lame", "5 MiB, picture of 250 KB", _lame(utf16, picture="large"), big=True),
    ]


def cases():
    return mutagen_cases() + id3v2_cases() + eyed3_cases() + kid3_cases() + ffmpeg_cases() + lame_cases()
