// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <taglib/id3v1tag.h>

#include <deque>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/FileChange.h"
#include "platform/Posix.h"
#include "vbmp3/FileLayout.h"
#include "vbmp3/Id3v2Frame.h"
#include "vbmp3/TagFields.h"

namespace kestrom::vbmp3 {

// Which tags a write renews; a tag that is not renewed stays as it is.
struct WriteTargets {
    bool id3v2 = true;
    bool id3v1 = true;
};

// The frames of a new ID3v2.3 tag: the fields as frames with UTF-16 text (title
// TIT2, artist TPE1, album TALB, year TYER, comment COMM without description,
// genre TCON by name), each in the place of the frame that held it (new ones at
// the end, in this order), and every other frame of the old tags carried over:
//  - a frame read from a version 2.3 tag as it was;
//  - a frame of a version 2.4 tag with its flags in version 2.3 terms, its
//    unsynchronisation undone, and strings in UTF-8 or UTF-16BE written anew as
//    UTF-16 (a compressed one then uncompressed); the frames version 2.3 lacks
//    become their counterparts: TDOR a TORY of its year (and, when it held more,
//    also a TXXX named TDOR with all of it), TIPL an IPLS, and the other text
//    frames (TMOO, TDRL, TMCL...) a TXXX named after the frame;
//  - the date of a TDRC, when the year stays, goes into TDAT and TIME; TDAT and
//    TIME go when the year changes.
// An encrypted frame is carried over as it is, a frame of unknown kind too. A
// frame that cannot be carried over exactly gives nothing, and why.
std::variant<std::vector<Frame>, std::string> framesFor(const std::vector<Frame>& old,
                                                        const TagFields& fields);

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
    Damaged,     // a frame of the old tags cannot be carried over exactly
    TooLarge,    // the new tag exceeds what an ID3v2 tag can hold
    Unparsable,  // the new tag does not read back as written (never expected)
    System,
};

struct WriteFailure {
    WriteCheck check = WriteCheck::System;
    int error = 0;  // the errno that tells the program why (set for every check)
};

// What a write changes in a file, worked out from its bytes alone.
struct WritePlan {
    enum class Kind {
        Unchanged,  // the file already holds what would be written
        InPlace,    // head over [0, head.size()), tail over [tailStart, end), the length then
                    // tailStart + tail.size()
        Rewrite,    // a new file: head, then the old bytes [keepFrom, tailStart), then tail
    };
    Kind kind = Kind::Unchanged;
    std::string head;
    long keepFrom = 0;
    long tailStart = 0;
    std::string tail;
};

// The plan for writing the fields into the MP3 file in stream:
//  - the new tag goes in place when it fits the room of the old leading tags:
//    the space they declare, where nothing but zero bytes follows their frames
//    and no audio starts early, and only for a file with no other hard link
//    (linkCount 1), so that a change never shows through another name;
//  - otherwise the file is made anew: the new tag with room for later changes,
//    then every byte from where the old tags really end (the audio, and bytes
//    of no frame before it, found by the audio's frame sync where a size field
//    claims more than its tag holds), then the ID3v1 tag. The room is at least
//    2 KiB, and less than a block (blockSize, the file system's) more: as much
//    as keeps those bytes at their offset within a block, so that a file system
//    with shared extents can share their blocks with the old file's.
// The new tag is parsed back, by this library and by TagLib, before the plan is
// given. Exactly one ID3v2 tag (version 2.3) is left when it is renewed.
std::variant<WritePlan, WriteFailure> planWrite(ReadAheadStream& stream, const FileLayout& layout,
                                                const TagFields& fields, WriteTargets targets,
                                                nlink_t linkCount, std::size_t blockSize);

// Write: the write. Check: every check the write makes before it changes
// anything (the file opened for writing and locked, a plain file, not read-only,
// MPEG audio, the new tags built and read back, its folder open to the journal
// or the copy a change makes there), and no more: nothing is written
// or created, and a change that a crash left unfinished is not rolled back (the
// checks see the file as it is). A check fails as the write would.
enum class WriteMode { Write, Check };

// Writes the fields into the MP3 file at path (through a link, into the file it
// leads to), never damaging it, at the cost of what changes (see planWrite):
// nothing at all when the file already holds the fields; in place under the
// folder's journal (see platform/Journal.h); or as a hidden copy beside it that takes
// its mode and owner and is renamed over it (the file's other hard links keep
// the old file). Every write's result is checked. On failure the file is as it
// was (or, when only the sync of its folder after the rename failed, the new
// file, whole) and nothing is left beside it; the result says which check
// refused the write.
std::optional<WriteFailure> writeFields(platform::Posix& posix, const std::string& path,
                                        const TagFields& fields, WriteTargets targets,
                                        WriteMode mode = WriteMode::Write);

// Writes into many files made durable together (see platform::ChangeBatch): a
// few syncs for a whole batch instead of a few for each file. Each file is
// planned, checked and staged when it is added; commit() writes them.
class WriteBatch {
public:
    explicit WriteBatch(platform::Posix& posix) : m_posix(posix), m_batch(posix) {}

    // Stages the write of fields into the file at path (as writeFields would
    // make it). A write refused now is returned; the others' results come with
    // commit(). When the journal data staged would exceed a bound (a batch's
    // journal is held in memory and written whole), the files staged so far
    // are committed first.
    std::optional<WriteFailure> add(const std::string& path, const TagFields& fields,
                                    WriteTargets targets);
    // Commits the files staged since the last commit: the result of each, in the
    // order they were added (nothing for a file written, or left unchanged
    // because it held the fields already).
    std::vector<std::optional<WriteFailure>> commit();
    // Files added since the last commit.
    std::size_t size() const { return m_results.size(); }

private:
    void commitStaged();

    platform::Posix& m_posix;
    platform::ChangeBatch m_batch;
    std::deque<platform::FileChange> m_changes;          // staged, not yet committed
    std::vector<std::optional<WriteFailure>> m_results;  // one per add
    std::vector<std::pair<std::size_t, platform::FileChange*>> m_pending;
    std::size_t m_journalBytes = 0;
};

}  // namespace kestrom::vbmp3
