# SPDX-License-Identifier: GPL-3.0-or-later
"""What a frame means, so that frames are compared by meaning and not by bytes.

The program writes an ID3v2.3 tag, so a frame of a version 2.4 (or 2.2) tag may
arrive in another form that means the same. Each such equivalence is written
out here, and applied alike to the frames expected and the frames found:

  - the text encoding is no part of the meaning (UTF-8 becomes UTF-16);
  - several values of a text frame mean the same as those values joined by "/"
    (version 2.3 has no list of values);
  - TDOR (original release date) is TORY holding its year, plus TXXX:TDOR
    holding the whole date when it holds more than a year;
  - the version 2.4 text frames that version 2.3 lacks (TMOO, TDRL, TDTG, TDEN,
    TSOA, TSOP, TSOT, TSST, TPRO) are a TXXX frame named after the frame
    (TXXX:TMOO): kept as they were or moved there, both pass;
  - TIPL and TMCL (people and their roles) are IPLS, or a TXXX named after the
    frame (TXXX:TMCL); all of a tag's people frames mean the pairs they hold
    together, however they are split;
  - a time stamp means its date and time, whether a "T" or a blank stands
    between them (mutagen shows a blank, the frame may hold a "T");
  - a version 2.2 frame is its version 2.3 counterpart (TT2 is TIT2, PIC is
    APIC, its image format "PNG" the MIME type image/png);
  - a frame of a group keeps its group byte: the group is part of its meaning;
  - a frame mutagen does not know, or an encrypted one, means its bytes.

The program owns TIT2, TPE1, TALB, TYER, TDRC, TDAT, TIME, TCON and the COMM
frame without description: those are compared with the library file's fields
instead, every other frame must come through."""

import hashlib
from dataclasses import dataclass

from id3read import RawFrame

OWNED = {"TIT2", "TPE1", "TALB", "TYER", "TDRC", "TDAT", "TIME", "TCON"}
V24_ONLY_TEXT = {"TMOO", "TDRL", "TDTG", "TDEN", "TSOA", "TSOP", "TSOT", "TSST", "TPRO"}
PEOPLE = {"TIPL", "TMCL", "IPLS"}
TIME_STAMPS = {"TDEN", "TDOR", "TDRL", "TDTG"}


def _timestamp(text):
    """A date and time with a blank between them, as mutagen shows time stamps."""
    return text[:10] + " " + text[11:] if len(text) > 10 and text[10] == "T" else text
_IMAGE_FORMATS = {"PNG": "image/png", "JPG": "image/jpeg", "GIF": "image/gif", "BMP": "image/bmp"}


def frame_id(m):
    """The frame's version 2.3/2.4 ID (a version 2.2 frame's counterpart)."""
    if isinstance(m, RawFrame):
        return m.fid
    fid = m.FrameID
    if len(fid) == 3:
        fid = type(m).__base__.__name__
    return fid


def is_owned(m):
    fid = frame_id(m)
    return fid in OWNED or (fid == "COMM" and not isinstance(m, RawFrame) and m.desc == "")


def _plain(value):
    if isinstance(value, (list, tuple)):
        return tuple(_plain(v) for v in value)
    if isinstance(value, float):
        return round(value, 4)  # gains and peaks, stored in fixed point
    if isinstance(value, (bytes, str)) or value is None:
        return value
    if isinstance(value, int):
        return int(value)  # the enums mutagen uses for picture types and such
    return str(value)  # time stamps


def _short(value, width=40):
    if isinstance(value, bytes):
        if len(value) <= 12:
            return value.hex()
        return f"{len(value)} bytes {hashlib.sha1(value).hexdigest()[:8]}"
    text = "".join(c if c.isprintable() else "·" for c in str(value))
    return text if len(text) <= width else text[:width - 1] + "…"


@dataclass(frozen=True)
class Fact:
    """One frame's meaning: key is what is compared, label what a message shows."""

    key: tuple
    label: str


def _fact(fid, attrs, origin=None):
    key = (fid,) + tuple(sorted(attrs.items()))
    shown = fid
    if "desc" in attrs:
        shown += f":{attrs['desc']}"
    if "owner" in attrs:
        shown += f":{_short(attrs['owner'], 24)}"
    for name in ("text", "people", "url", "data", "content", "count", "rating"):
        if name in attrs:
            shown += f" ({_short(attrs[name])})"
            break
    if attrs.get("group") is not None:
        shown += f" [group {attrs['group']:#x}]"
    if origin and origin != fid:
        shown += f" [from {origin}]"
    return Fact(key, shown)


def facts(m):
    """The meaning of one frame, as version 2.3 would hold it."""
    fid = frame_id(m)
    if isinstance(m, RawFrame):
        attrs = {"content": m.content, "group": m.group}
        if m.encryption is not None:
            attrs["encryption"] = m.encryption
        return [_fact(fid, attrs)]
    attrs = {}
    names = [part.name for part in list(m._framespec) + list(m._optionalspec)]
    for name in names:
        if name != "encoding" and hasattr(m, name):
            attrs[name] = _plain(getattr(m, name))
    if "text" in attrs and isinstance(attrs["text"], tuple):
        attrs["text"] = "/".join(str(t) for t in attrs["text"])
    if fid == "APIC" and attrs.get("mime", "").upper() in _IMAGE_FORMATS:
        attrs["mime"] = _IMAGE_FORMATS[attrs["mime"].upper()]
    group = getattr(m, "trial_group", None)
    attrs["group"] = group
    if fid == "TXXX" and attrs.get("desc") in TIME_STAMPS:
        attrs["text"] = _timestamp(attrs["text"])
    if fid == "TDOR":
        date = _timestamp(attrs["text"])
        out = [_fact("TORY", {"text": date[:4], "group": group}, fid)]
        if len(date) > 4:
            out.append(_fact("TXXX", {"desc": "TDOR", "text": date, "group": group}, fid))
        return out
    if fid in V24_ONLY_TEXT:
        text = _timestamp(attrs["text"]) if fid in TIME_STAMPS else attrs["text"]
        return [_fact("TXXX", {"desc": fid, "text": text, "group": group}, fid)]
    return [_fact(fid, attrs)]


def unowned_facts(meanings):
    """The facts of the frames the program does not own; the people frames
    become one IPLS fact of all their pairs."""
    out, people, origins = [], [], []
    for m in meanings:
        if is_owned(m):
            continue
        fid = frame_id(m)
        if fid in PEOPLE and not isinstance(m, RawFrame):
            people += [tuple(p) for p in m.people]
            origins.append(fid)
        elif fid == "TXXX" and not isinstance(m, RawFrame) and m.desc in PEOPLE:
            values = [str(t) for t in m.text]
            people += [tuple(values[i:i + 2]) for i in range(0, len(values) - 1, 2)]
            origins.append(m.desc)
        else:
            out += facts(m)
    if people:
        out.append(_fact("IPLS", {"people": tuple(sorted(people))}, "+".join(sorted(set(origins)))))
    return out


def compare(expected, found):
    """Messages for what differs between two lists of facts, as multisets: a
    frame lost, added, or (the same ID on both sides) changed."""
    left = list(found)
    missing = []
    for f in expected:
        for i, g in enumerate(left):
            if g.key == f.key:
                del left[i]
                break
        else:
            missing.append(f)
    messages = []
    extra_ids = {g.key[0] for g in left}
    for f in missing:
        verb = "changed" if f.key[0] in extra_ids else "lost"
        messages.append((f"frame {verb}", f.label))
    missing_ids = {f.key[0] for f in missing}
    for g in left:
        if g.key[0] not in missing_ids:
            messages.append(("frame added", g.label))
        else:
            messages.append(("frame changed", "now " + g.label))
    return messages


# The fields the program owns, as a reader of the tag finds them.

FIELDS = ("title", "artist", "album", "year", "comment", "genre")


def _text(m):
    return "/".join(str(t) for t in m.text)


def fields_of(meanings):
    """title, artist, album, year, comment and genre from the first frame of
    each kind ("" when there is none)."""
    out = dict.fromkeys(FIELDS, "")
    by_id = {}
    for m in meanings:
        if isinstance(m, RawFrame):
            continue
        by_id.setdefault(frame_id(m), []).append(m)
    for name, fid in (("title", "TIT2"), ("artist", "TPE1"), ("album", "TALB")):
        if fid in by_id:
            out[name] = _text(by_id[fid][0])
    if "TYER" in by_id:
        out["year"] = _text(by_id["TYER"][0])[:4]
    elif "TDRC" in by_id:
        out["year"] = _text(by_id["TDRC"][0])[:4]
    for m in by_id.get("COMM", []):
        if m.desc == "":
            out["comment"] = _text(m)
            break
    if "TCON" in by_id:
        genres = by_id["TCON"][0].genres
        out["genre"] = genres[0] if genres else ""
    return out


def same_field(name, expected, found):
    """Whether a field was read right. Documented differences: trailing blanks
    are not stored; genre names compare without regard to case, blanks and
    punctuation (the ID3v1 genre lists of readers differ in such details)."""
    expected, found = str(expected).rstrip(" "), str(found).rstrip(" ")
    if name == "genre":
        def norm(s):
            return "".join(c for c in s.casefold() if c.isalnum())
        return norm(expected) == norm(found)
    return expected == found


def field_message(name, expected, found):
    if name in ("title", "artist", "album", "comment") and found and str(expected).startswith(found):
        return f"{name} cut: {len(found)} of {len(expected)} characters"
    if not found:
        return f"{name} missing (expected {_short(expected)!r})"
    return f"{name} {_short(found)!r}, expected {_short(expected)!r}"
