// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/SealedRecord.h"

namespace kestrom::platform {
namespace {

constexpr std::size_t kHashSize = 8;

std::uint64_t fnv1a(std::string_view bytes) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (const char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ull;
    }
    return hash;
}

}  // namespace

void putName(std::string& out, std::string_view name) {
    putNumber(out, name.size(), 4);
    out += name;
}

void seal(std::string& out) {
    putNumber(out, fnv1a(out), kHashSize);
}

std::optional<std::string_view> unsealed(std::string_view data, std::string_view magic) {
    if (data.size() < magic.size() + kHashSize || !data.starts_with(magic)) return std::nullopt;
    const std::string_view body = data.substr(0, data.size() - kHashSize);
    std::uint64_t stored = 0;
    if (!RecordReader(data.substr(body.size())).number(stored, kHashSize) || stored != fnv1a(body))
        return std::nullopt;
    return body.substr(magic.size());
}

bool RecordReader::number(std::uint64_t& value, std::size_t size) {
    if (m_data.size() < size) return false;
    value = littleEndian(m_data.substr(0, size));
    m_data.remove_prefix(size);
    return true;
}

bool RecordReader::bytes(std::string_view& out, std::uint64_t size) {
    if (m_data.size() < size) return false;
    out = m_data.substr(0, static_cast<std::size_t>(size));
    m_data.remove_prefix(static_cast<std::size_t>(size));
    return true;
}

bool RecordReader::name(std::string& out) {
    std::uint64_t size = 0;
    std::string_view bytesOfName;
    if (!number(size, 4) || !bytes(bytesOfName, size)) return false;
    out = bytesOfName;
    return true;
}

}  // namespace kestrom::platform
