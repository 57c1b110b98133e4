// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/types.h>
#include <taglib/tiostream.h>

#include <string>
#include <vector>

#include "platform/Posix.h"

namespace kestrom::vbmp3 {

// What a read of an MP3 file takes at once: its head (the ID3v2 tag, the first
// frames and their VBR header, unless the tag is larger) and its tail (the ID3v1
// and APE tags and the last frame).
inline constexpr off_t kHeadRead = off_t{64} * 1024;
inline constexpr off_t kTailRead = off_t{16} * 1024;

// A read-only TagLib stream over an open file, reading through the platform's
// seam. TagLib reads a file in many small steps (a kilobyte at a time, to and
// fro); this stream serves them from the parts of the file it has read, and
// reads what it lacks in large pieces, so that parsing a file costs a handful
// of reads. TagLib never writes through it: every write is refused.
class ReadAheadStream : public TagLib::IOStream {
public:
    // Not owned: posix, fd (open for reading). length: the file's size.
    ReadAheadStream(platform::Posix& posix, int fd, off_t length, std::string name);
    // A stream over bytes already in memory, which reads nothing.
    explicit ReadAheadStream(std::string content);

    // Reads offset..offset+size (within the file) in one piece, ahead of use.
    void preload(off_t offset, off_t size);
    // Reads the head and the tail of the file (kHeadRead, kTailRead), one read
    // each: all that parsing a file with a small tag needs.
    void preloadEnds();
    // The errno of the first read that failed, else 0. A failed read reads as
    // the end of the file to TagLib, so callers check this afterwards.
    int error() const { return m_error; }
    // The bytes at offset..offset+size, from what is read (reading what is not).
    TagLib::ByteVector bytesAt(off_t offset, off_t size);

    TagLib::FileName name() const override { return m_name.c_str(); }
    TagLib::ByteVector readBlock(unsigned long length) override;
    void writeBlock(const TagLib::ByteVector&) override {}
    void insert(const TagLib::ByteVector&, unsigned long, unsigned long) override {}
    void removeBlock(unsigned long, unsigned long) override {}
    bool readOnly() const override { return true; }
    bool isOpen() const override { return true; }
    void seek(long offset, Position p) override;
    void clear() override {}
    long tell() const override { return m_position; }
    long length() override { return static_cast<long>(m_length); }
    void truncate(long) override {}

private:
    struct Piece {
        off_t offset;
        std::string bytes;
    };
    const Piece* pieceHolding(off_t offset, off_t size) const;

    platform::Posix* m_posix;  // null for a stream in memory
    int m_fd;
    off_t m_length;
    std::string m_name;
    long m_position = 0;
    std::vector<Piece> m_pieces;
    int m_error = 0;
};

}  // namespace kestrom::vbmp3
