// SPDX-License-Identifier: GPL-3.0-or-later
#include "vbmp3/ReadAheadStream.h"

#include <algorithm>

#include "platform/FileOps.h"

namespace kestrom::vbmp3 {
namespace {

// What a read that misses takes at once: TagLib scans on in small steps.
constexpr off_t kReadAhead = kHeadRead;

}  // namespace

ReadAheadStream::ReadAheadStream(platform::Posix& posix, int fd, off_t length, std::string name)
    : m_posix(&posix), m_fd(fd), m_length(std::max<off_t>(length, 0)), m_name(std::move(name)) {}

ReadAheadStream::ReadAheadStream(std::string content)
    : m_posix(nullptr), m_fd(-1), m_length(static_cast<off_t>(content.size())) {
    m_pieces.push_back({0, std::move(content)});
}

const ReadAheadStream::Piece* ReadAheadStream::pieceHolding(off_t offset, off_t size) const {
    for (const Piece& p : m_pieces)
        if (p.offset <= offset && offset + size <= p.offset + static_cast<off_t>(p.bytes.size()))
            return &p;
    return nullptr;
}

void ReadAheadStream::preload(off_t offset, off_t size) {
    offset = std::clamp<off_t>(offset, 0, m_length);
    size = std::min(size, m_length - offset);
    if (size <= 0 || pieceHolding(offset, size) != nullptr || m_error != 0 || m_posix == nullptr)
        return;
    Piece piece{offset, {}};
    if (int err =
            platform::readAt(*m_posix, m_fd, piece.bytes, static_cast<std::size_t>(size), offset);
        err != 0) {
        m_error = err;
        return;
    }
    m_pieces.push_back(std::move(piece));
}

void ReadAheadStream::preloadEnds() {
    preload(0, kHeadRead);
    preload(m_length - kTailRead, kTailRead);
}

TagLib::ByteVector ReadAheadStream::bytesAt(off_t offset, off_t size) {
    offset = std::clamp<off_t>(offset, 0, m_length);
    size = std::clamp<off_t>(size, 0, m_length - offset);
    if (size == 0) return {};
    if (pieceHolding(offset, size) == nullptr) preload(offset, std::max(size, kReadAhead));
    const Piece* p = pieceHolding(offset, size);
    if (p == nullptr) {  // a failed read, or the file is shorter than it was
        if (m_error == 0) m_error = EIO;
        return {};
    }
    return TagLib::ByteVector(p->bytes.data() + (offset - p->offset),
                              static_cast<unsigned int>(size));
}

TagLib::ByteVector ReadAheadStream::readBlock(unsigned long length) {
    const TagLib::ByteVector data = bytesAt(m_position, static_cast<off_t>(length));
    m_position += static_cast<long>(data.size());
    return data;
}

void ReadAheadStream::seek(long offset, Position p) {
    switch (p) {
        case Beginning: m_position = offset; break;
        case Current: m_position += offset; break;
        case End: m_position = static_cast<long>(m_length) + offset; break;
    }
    m_position = std::max(m_position, 0L);
}

}  // namespace kestrom::vbmp3
