// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// libvbmp3.so: the program's tag library, on TagLib. It reads the tag of an MP3
// file into a fixed block of code page 932 texts and writes such a block into an
// MP3 file. Only the two functions below are exported (C linkage); both return 0
// for failure and 1 for success, and neither throws.
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
// Both functions may be called from several threads; the calls take turns. A write
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
    VBMP3_MPEG_INFO_SIZE = 56
};

#define VBMP3_API __attribute__((visibility("default")))

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
// can be opened, the file holds no MPEG audio, or it has no tag with any field.
VBMP3_API int16_t vbmp3_getFileInfo(const char* path, unsigned char* tagInfo,
                                    unsigned char* mpegInfo);

// Writes the fields of tagInfo into the MP3 file at path. Trailing blanks and NULs
// of a text are not stored. tagInfo is not changed.
//
//   id3v2  1: write the fields into an ID3v2.3 tag, UTF-16 text, keeping every
//             other frame the tag has (cover art, track number, lyrics...) and
//             leaving exactly one ID3v2 tag in the file; 0: leave ID3v2 as it is.
//   id3v1  1: write the fields into an ID3v1 tag, code page 932 text, each text
//             cut on a character boundary (the comment to 28 bytes, the track
//             number stays); 0: leave ID3v1 as it is.
//
// The program passes 1, 1. Any other value, or 0 for both, fails the call.
//
// The file is never left damaged, and a write costs what changes:
//  - when the new ID3v2 tag fits the room of the file's leading tag(s), the tag
//    (padded to that room) and the ID3v1 tag are written in place. First an undo
//    record, the hidden file ".kestrom-<inode>.undo" beside the file, holding the
//    old bytes, is put on disk; once the file is on disk the record is removed.
//    A record left by a crash is rolled back (the file is then as it was) before
//    any later call touches that file, and by the program at the start of a run
//    over its folder. The record's removal reaches the disk with the folder's
//    next sync: a power loss before that rolls the file back, whole;
//  - otherwise the file is made anew in a hidden copy in the same folder (the
//    new tag with room to spare, the audio copied inside the kernel where it
//    can), synced and renamed over the file, keeping its mode and, where the
//    process may, its owner. Other hard links to the file keep the old file.
// The new tag is parsed back from memory before anything is written. On any
// failure the file is as it was, nothing is left beside it, and errno tells why:
// the errno of the failed system call, EACCES for a read-only file (owner write
// permission clear), EINVAL for no plain file, ENOEXEC for a file that holds no
// MPEG audio, EBUSY for a file that another process is writing or that changed
// during the write.
VBMP3_API int16_t vbmp3_setTagInfo(const char* path, unsigned char* tagInfo, int32_t id3v2,
                                   int32_t id3v1);

#ifdef __cplusplus
}
#endif
