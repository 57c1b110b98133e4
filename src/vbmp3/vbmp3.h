// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// libvbmp3.so: the program's tag library, on TagLib. It reads the tag of an MP3
// file and writes one into an MP3 file, through either of two pairs of entry
// points: the first exchanges a fixed block of code page 932 texts, which cuts
// long texts; the second a text record of whole UTF-8 texts (see below the block).
// These four functions and the four of a batch of writes (see the end) are the
// only ones exported (C linkage); all return 0 for failure and 1 for success,
// and none throws. A program that finds the second pair in the library uses it;
// the first stays, unchanged, for every caller of old.
//
// The tag block (652 bytes), one byte per character position:
//
//   bytes     field      holds
//   0-127     TextA      title
//   128-255   TextB      artist (the program puts its karaoke mark here)
//   256-383   TextC      album
//   384-388   ShortText  year, four digits
//   389-516   TextD      comment (the one without a description)
//   517-519   -          alignment gap: never read, never written
//   520-523   Number     ID3v1 genre number, 32-bit little-endian, 255 when none
//   524-651   TextE      the genre's name
//
// Texts are code page 932 without trailing blanks, cut on a character boundary
// when longer than their field, padded with NUL bytes. The program keeps the block in UTF-16
// between calls, so a text holds only bytes that survive code page 932 decoding and encoding. A
// character the code page cannot hold exactly (é, ♥, 한, an emoji, WAVE DASH U+301C) is escaped in
// plain ASCII:
//
//   0x7F followed by the four upper-case hexadecimal digits of its UTF-16 code
//   unit ("é" is 7F 30 30 45 39); a character beyond U+FFFF takes two escapes,
//   its surrogate pair; 0x7F itself is escaped too (7F "007F").
//
// An escape counts towards its field's length and is never cut. Only this library
// writes and reads escapes, so "Beyoncé" read from one file is "Beyoncé" in the
// file it is written into. Reading a file that this library wrote gives the same
// block again.
//
// The text record carries the same seven fields with whole texts, in this order:
//
//   Number     4 bytes, little-endian, the same value as the block's
//   TextA      UTF-8, then one NUL byte
//   TextB      UTF-8, then one NUL byte
//   TextC      UTF-8, then one NUL byte
//   ShortText  UTF-8, then one NUL byte (the year's four digits, or nothing)
//   TextD      UTF-8, then one NUL byte
//   TextE      UTF-8, then one NUL byte: the record ends here
//
// A text is valid UTF-8 (no byte order mark, no overlong form, no surrogate, no
// code beyond U+10FFFF) of at most VBMP3_TEXT_MAX bytes and holds no NUL. It is
// never cut, padded or escaped: "Beyoncé", 한, an emoji and a title of 300
// characters travel as they are. A text read has no trailing blanks; one handed
// over may have them (the program's karaoke mark does), and they are not stored.
// A record is therefore between VBMP3_TEXT_RECORD_MIN (every text empty) and
// VBMP3_TEXT_RECORD_MAX bytes long.
// Only the ID3v1 tag, whose fields hold 30 bytes by its format, cuts a text (on a
// character boundary, see vbmp3_setTagInfo).
//
// Stream information (56 bytes), all numbers little-endian, 0 when unknown:
//
//   offset size  field
//   0      1     MPEG version: 1 = MPEG-1, 2 = MPEG-2, 3 = MPEG-2.5
//   1      1     layer: 1, 2 or 3
//   2      1     channel mode: 0 stereo, 1 joint stereo, 2 dual channel, 3 mono
//   3      1     channels: 1 or 2
//   4      1     flags: 0x01 CRC protected, 0x02 copyrighted, 0x04 original,
//                0x08 the stream has a VBR header
//   5      1     VBR header: 0 none, 1 Xing or Info, 2 VBRI
//   6      2     samples per frame
//   8      4     sample rate, Hz
//   12     4     bit rate, kbit/s (the mean of a VBR stream)
//   16     4     length, milliseconds
//   20     4     frames (from the VBR header, else the audio size over the
//                mean frame length)
//   24     8     offset of the first frame, bytes
//   32     8     audio size, bytes: from the first frame to the APE or ID3v1 tag
//   40     8     file size, bytes
//   48     4     bit rate of the first frame, kbit/s
//   52     4     length of the first frame, bytes
//
// All four functions may be called from several threads; the calls take turns. A write
// that goes beyond the process's file size limit raises SIGXFSZ, which ends the
// process unless the program ignores that signal; the file itself stays intact.

#include <stdint.h>

// The tag block's layout as the table above gives it, and the sizes of both
// blocks: plain constants, usable from C and C++ alike.
enum {
    VBMP3_TAG_INFO_SIZE = 652,
    VBMP3_TEXT_A_OFFSET = 0,
    VBMP3_TEXT_A_SIZE = 128,
    VBMP3_TEXT_B_OFFSET = 128,
    VBMP3_TEXT_B_SIZE = 128,
    VBMP3_TEXT_C_OFFSET = 256,
    VBMP3_TEXT_C_SIZE = 128,
    VBMP3_SHORT_TEXT_OFFSET = 384,
    VBMP3_SHORT_TEXT_SIZE = 5,
    VBMP3_TEXT_D_OFFSET = 389,
    VBMP3_TEXT_D_SIZE = 128,
    VBMP3_NUMBER_OFFSET = 520,
    VBMP3_NUMBER_SIZE = 4,
    VBMP3_TEXT_E_OFFSET = 524,
    VBMP3_TEXT_E_SIZE = 128,
    VBMP3_MPEG_INFO_SIZE = 56,
    VBMP3_TEXT_MAX = 65536, /* bytes of one text of the record at most, without its NUL */
    VBMP3_TEXT_COUNT = 6,
    VBMP3_TEXT_RECORD_MIN = 4 + VBMP3_TEXT_COUNT,
    VBMP3_TEXT_RECORD_MAX = 4 + VBMP3_TEXT_COUNT * (VBMP3_TEXT_MAX + 1)
};

#ifdef _WIN32
#define VBMP3_API /* VBMP3.dll exports its entry points by exports.def */
#else
#define VBMP3_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Reads the tag of the MP3 file at path (a NUL-terminated file name, taken as
// bytes) into tagInfo (652 bytes) and its stream information into mpegInfo
// (56 bytes). It reads the file's head and tail only, never the whole audio.
//
// The tag read is the ID3v2 tag, else the ID3v1 tag, else the APE tag; a tag
// that holds none of the fields counts as none. ID3v1 fields and ID3v2 frames
// marked ISO-8859-1 are read as code page 932 when their bytes form Japanese text
// in it (as older Japanese taggers wrote them), else as ISO-8859-1.
//
// On success every field is written, empty where the tag has none, so nothing of
// the block's earlier content (the previous file's tag) remains. The read fails,
// and leaves both blocks exactly as they were, when path is no plain file that
// can be opened (errno of the failed call), the file holds no MPEG audio
// (ENOEXEC), or it has no tag with any field (ENODATA).
VBMP3_API int16_t vbmp3_getFileInfo(const char* path, unsigned char* tagInfo,
                                    unsigned char* mpegInfo);

// Writes the fields of tagInfo into the MP3 file at path. Trailing blanks and NULs
// of a text are not stored. tagInfo is not changed.
//
//   id3v2  1: write the fields into an ID3v2.3 tag, UTF-16 text, keeping every
//             other frame (cover art, track number, lyrics...) of every ID3v2
//             tag in front of the audio, and leaving exactly one ID3v2 tag in
//             the file; 0: leave ID3v2 as it is.
//   id3v1  1: write the fields into an ID3v1 tag, code page 932 text, each text
//             cut on a character boundary (the comment to 28 bytes, the track
//             number stays); 0: leave ID3v1 as it is.
//
// The program passes 1, 1. Any other value, or 0 for both, fails the call.
//
// The tags in front of the audio are read in every version (2.2, 2.3, 2.4) and
// layout that taggers write: extended headers, footers, unsynchronisation,
// compressed, encrypted and grouped frames, several tags back to back (the
// first tag's text frame wins where two hold the same one), and size fields that
// claim more than the tag holds. Each frame keeps its place and its bytes; a
// frame of version 2.4 is converted only as far as version 2.3 requires (UTF-8
// becomes UTF-16; TDOR becomes TORY, and a TXXX named TDOR too when it holds
// more than a year; TIPL becomes IPLS; the other text frames that version 2.3
// lacks become a TXXX named after the frame).
//
// The file is never left damaged, and a write costs what changes:
//  - when the file already holds exactly what would be written, nothing is
//    written at all (its modification time stays);
//  - when the new ID3v2 tag fits the room of the file's leading tags (the space
//    they declare, where only zero bytes follow their frames and the audio does
//    not start earlier) and the file has no other hard link, the tag (padded to
//    that room) and the ID3v1 tag are written in place. First a journal, the
//    hidden file ".kestrom.journal" in the file's folder, holding the old and
//    the new bytes, is put on disk; once the file is on disk the journal is
//    marked done, and then removed. A journal that a crash left unfinished is
//    rolled back (its files are then as they were) before any later call
//    touches a file of that folder (a mere check excepted, see
//    vbmp3_setTagInfoUtf8), and by the program at the start of a run over it;
//  - otherwise the file is made anew in a hidden copy in the same folder (the
//    new tag with room to spare, then every byte from where the old tags really
//    end, found by the audio's frame sync, copied inside the kernel where it
//    can), synced and renamed over the file, keeping its mode and, where the
//    process may, its owner. Other hard links to the file keep the old file,
//    whole: a file with several links is never changed in place.
// The new tag is parsed back from memory before anything is written. On any
// failure the file is as it was (but where only the last step, the sync of its
// folder after the rename, failed: it is then the new file, whole, which a
// power loss may still take back), nothing is left beside it, and errno tells
// why: the errno of the failed system call, EACCES for a read-only file (owner
// write permission clear), EINVAL for no plain file, ENOEXEC for a file that
// holds no MPEG audio, EBUSY for a file that another process is writing or that
// changed during the write, EBADMSG for tags that hold something that cannot be
// carried over exactly (a frame that overruns its tag, bytes that are no frame
// inside a tag, a frame that claims the start of the audio), EFBIG for a new tag
// larger than an ID3v2 tag can be.
VBMP3_API int16_t vbmp3_setTagInfo(const char* path, unsigned char* tagInfo, int32_t id3v2,
                                   int32_t id3v1);

// Reads the tag of the MP3 file at path as vbmp3_getFileInfo does (the same tag,
// the same fields, the same stream information into mpegInfo), with whole texts:
// the text record goes to the start of record, which has room for recordSize
// bytes (VBMP3_TEXT_RECORD_MAX always suffice); the bytes after the record's end
// are left as they were. The read fails, and leaves record and mpegInfo exactly
// as they were, for the reasons vbmp3_getFileInfo fails, and besides with errno
//   EOVERFLOW  a text of the tag takes more than VBMP3_TEXT_MAX bytes in UTF-8
//              (the read refuses to cut it);
//   ERANGE     the record is longer than recordSize;
//   EINVAL     path, record or mpegInfo is null.
VBMP3_API int16_t vbmp3_getFileInfoUtf8(const char* path, char* record, uint32_t recordSize,
                                        unsigned char* mpegInfo);

// Writes the fields of the text record into the MP3 file at path as
// vbmp3_setTagInfo writes a tag block, with the same id3v2 and id3v1 arguments,
// the same ways of writing and the same failures, but with whole texts: the
// ID3v2 tag holds every character; only the ID3v1 tag cuts them. record holds
// exactly one record of recordSize bytes, and is not changed. Before anything
// else the record is checked, and the call fails with EINVAL, the file not even
// opened, when it is malformed: shorter or longer than its Number and six texts
// with their NULs, a text that is not valid UTF-8 or longer than VBMP3_TEXT_MAX
// bytes. As in the block, trailing blanks of a text are not stored, a ShortText
// that is not one to four digits is no year and a Number beyond 255 is none.
//
//   checkOnly  0: write. 1: make every check that the write makes before it
//              changes anything (the file can be opened for writing, is a plain
//              file, is not read-only, is not being changed by another writer,
//              holds MPEG audio, and the new tags can be built and read back),
//              then return: 1 when the write would go ahead, else 0 with the
//              errno the write would fail with. Nothing is written or created,
//              no journal either, and a journal that a crash left is neither
//              rolled back nor removed: the checks see the file as the crash
//              left it, and a check changes no file.
//              Any other value fails the call (EINVAL).
VBMP3_API int16_t vbmp3_setTagInfoUtf8(const char* path, const char* record, uint32_t recordSize,
                                       int32_t id3v2, int32_t id3v1, int32_t checkOnly);

// A batch of writes, made durable together: what one write costs in syncs (a
// few device flushes) is paid once for many files. A program that writes many
// files opens a batch, adds files, commits, adds more, commits again... and
// ends it; nothing it adds is written before the commit.
typedef struct vbmp3_batch vbmp3_batch;

// Opens a batch; null with errno ENOMEM when it cannot. End it with vbmp3_endBatch.
VBMP3_API vbmp3_batch* vbmp3_beginBatch(void);
// Adds a write of the text record into the MP3 file at path, with the
// arguments and checks of vbmp3_setTagInfoUtf8 (checkOnly 0): the file is
// opened, locked and checked, the new tags built and read back, and a file to
// be made anew is made in its hidden copy. 0, with errno as vbmp3_setTagInfoUtf8
// gives it, when the write is refused now: the file is as it was. 1 when the
// write is staged: its result comes with the commit. The file stays open and
// locked until then. (When the journal data staged exceeds 16 MiB, the files
// staged before are committed at once; their results still come with the commit.)
VBMP3_API int16_t vbmp3_addTagInfoUtf8(vbmp3_batch* batch, const char* path, const char* record,
                                       uint32_t recordSize, int32_t id3v2, int32_t id3v1);
// Writes every file staged since the last commit, in place under the folder's
// journal or by renaming its copy over it, and makes all of it durable with two
// flushes of the file system: when it returns, every file written is on disk.
// errors (count entries: exactly the number of adds that returned 1 since the
// last commit, else EINVAL and nothing is written) receives each one's result
// in the order of the adds: 0 written (or left unchanged, holding the tags
// already), else the errno of its failure, the file as it was. Returns 1 when
// every entry is 0, else 0 with errno that of the last failure.
VBMP3_API int16_t vbmp3_commitBatch(vbmp3_batch* batch, int32_t* errors, uint32_t count);
// Ends the batch: the writes staged and not committed are dropped (their files as
// they were), and the journals go. batch may be null.
VBMP3_API void vbmp3_endBatch(vbmp3_batch* batch);

#ifdef __cplusplus
}
#endif
