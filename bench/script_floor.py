#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
# The job done the way a short script does it, for the benchmark's comparison:
# one process lists the library once, then for each MP3 file of the work folder
# reads the same-named library file's tag and writes its six fields into the
# work file with an in-place tag writer (mutagen: into the tag's padding when
# they fit, else the file is written again), ID3v2.3 and ID3v1, and never syncs.
# A work file Song_K.mp3 takes Song.mp3's tag. Usage: script_floor.py LIBRARY WORK
import os
import sys

from mutagen.id3 import ID3, ID3NoHeaderError, COMM, TALB, TCON, TIT2, TPE1, TYER

FIELDS = (TIT2, TPE1, TALB, TYER, TCON)


def main(library, work):
    first = {}
    for folder, subfolders, files in os.walk(library):
        subfolders.sort()
        for name in files:
            first.setdefault(name.upper(), os.path.join(folder, name))
    for name in sorted(os.listdir(work)):
        if not name.lower().endswith(".mp3"):
            continue
        wanted = name[:-6] + name[-4:] if name.upper().endswith("_K.MP3") else name
        source = first.get(wanted.upper())
        if source is None:
            continue
        try:
            tag = ID3(source)
        except ID3NoHeaderError:
            continue
        path = os.path.join(work, name)
        try:
            target = ID3(path)
        except ID3NoHeaderError:
            target = ID3()
        for kind in FIELDS:
            target.delall(kind.__name__)
            if kind.__name__ in tag:
                target.add(kind(encoding=1, text=tag[kind.__name__].text))
        target.delall("COMM")
        for comment in tag.getall("COMM"):
            target.add(COMM(encoding=1, lang=comment.lang, desc=comment.desc, text=comment.text))
        target.save(path, v1=2, v2_version=3)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
