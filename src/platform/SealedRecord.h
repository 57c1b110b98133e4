// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/LittleEndian.h"  // putNumber

// The byte form of the records the program keeps beside files while it changes
// them (a folder's journal, a pair move's record): a magic text, numbers
// little-endian and names with their length, and last an FNV-1a hash (8 bytes)
// of everything before it. A record cut short by a crash fails the hash: it was
// never complete on disk, so what it describes had not begun.
namespace kestrom::platform {

// Appends a 4-byte length and the bytes.
void putName(std::string& out, std::string_view name);
// Appends the hash of everything in out so far.
void seal(std::string& out);

// The record's content between the magic text and the hash, when data starts
// with magic and its hash holds; nothing otherwise.
std::optional<std::string_view> unsealed(std::string_view data, std::string_view magic);

// Takes numbers, bytes and names off the front of a record's content; each
// returns false when the content is too short.
class RecordReader {
public:
    explicit RecordReader(std::string_view data) : m_data(data) {}
    bool number(std::uint64_t& value, std::size_t size);
    bool bytes(std::string_view& out, std::uint64_t size);
    bool name(std::string& out);
    bool atEnd() const { return m_data.empty(); }

private:
    std::string_view m_data;
};

}  // namespace kestrom::platform
