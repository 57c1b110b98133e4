// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>

#include <optional>
#include <string>

#include "platform/Posix.h"
#include "vbmp3/TagFields.h"

namespace kestrom::vbmp3 {

// Which tags a write renews; a tag that is not renewed stays as it is.
struct WriteTargets {
    bool id3v2 = true;
    bool id3v1 = true;
};

// Puts the fields into an ID3v2 tag as frames with UTF-16 text (title TIT2,
// artist TPE1, album TALB, year TYER, comment COMM without description, genre
// TCON by name), replacing the frames that held them and keeping every other
// frame. The ID3v2.3 date frames TDAT and TIME are removed when the year changes;
// while it stays, the month and day of a v2.4 date move into TDAT.
void applyFields(TagLib::ID3v2::Tag& tag, const TagFields& fields);

// Puts the fields into an ID3v1 tag (its track number stays). The comment is cut
// to the 28 bytes that ID3v1.1 leaves it, on a character boundary; the genre
// number is that of the genre's name when it is an ID3v1 genre, else Number.
void applyFields(TagLib::ID3v1::Tag& tag, const TagFields& fields);

// Why a write was refused or failed: the library's own checks, and System for
// a system call that failed.
enum class WriteCheck {
    NoTarget,      // neither tag was asked for
    NotPlainFile,  // missing is System (ENOENT); a folder, a device, a pipe is this
    ReadOnly,      // owner write permission clear
    NotMpegAudio,
    Busy,        // another process is changing the file, or it changed during the write
    Unparsable,  // the new tag does not read back as written (never expected)
    System,
};

struct WriteFailure {
    WriteCheck check = WriteCheck::System;
    int error = 0;  // the errno that tells the program why (set for every check)
};

// Write: the write. Check: every check the write makes before it changes
// anything (the file opened for writing and locked, a plain file, not read-only,
// MPEG audio, the new tags built and read back), and no more: nothing is written
// or created, and a change that a crash left unfinished is not rolled back (the
// checks see the file as it is). A check fails as the write would.
enum class WriteMode { Write, Check };

// Writes the fields into the MP3 file at path (through a link, into the file it
// leads to), never damaging it, at the cost of what changes:
//  - when the new ID3v2.3 tag fits the space of the file's leading tag(s), only
//    that space (the rest padded) and the 128-byte ID3v1 tag are written, in
//    place, under an undo record (see platform/FileChange.h); stacked leading
//    tags collapse into one this way;
//  - otherwise the file is made anew in a hidden copy beside it (the new tag
//    with room for later changes, the audio copied from the original inside the
//    kernel where it can, the new ID3v1 tag), which takes its mode and owner and
//    is renamed over it. A rewrite gives a name with hard links a file of its own.
// The new tag is parsed from memory before a byte is written, and every write's
// result is checked. Exactly one ID3v2 tag (version 2.3) is left when the ID3v2
// tag is renewed. On failure the file is as it was and nothing is left beside
// it; the result says which check refused the write.
std::optional<WriteFailure> writeFields(platform::Posix& posix, const std::string& path,
                                        const TagFields& fields, WriteTargets targets,
                                        WriteMode mode = WriteMode::Write);

}  // namespace kestrom::vbmp3
