// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Numbers in the byte forms that the program and its tag library hand each other
// or keep on disk (the tag block's number, the stream block, the records kept
// beside files): little-endian, in as many bytes (at most 8) as the form gives.
namespace kestrom::platform {

// Writes the size lowest bytes of value at out, the lowest first.
inline void putLittleEndian(unsigned char* out, std::uint64_t value, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<unsigned char>(value >> (8 * i));
}

// Appends the size lowest bytes of value to out, the lowest first.
inline void putNumber(std::string& out, std::uint64_t value, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) out += static_cast<char>(value >> (8 * i) & 0xFF);
}

// The number that bytes hold, the lowest byte first.
inline std::uint64_t littleEndian(std::string_view bytes) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i)
        value |= std::uint64_t{static_cast<unsigned char>(bytes[i])} << (8 * i);
    return value;
}

// The number that the size bytes at bytes hold, the lowest first.
inline std::uint64_t littleEndian(const unsigned char* bytes, std::size_t size) {
    return littleEndian(std::string_view(reinterpret_cast<const char*>(bytes), size));
}

}  // namespace kestrom::platform
