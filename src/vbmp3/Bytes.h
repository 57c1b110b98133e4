// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <taglib/tbytevector.h>

#include <string_view>

// Between TagLib's byte vectors and the standard strings the library works in.
namespace kestrom::vbmp3 {

// The bytes of a byte vector, valid as long as the vector is: of a temporary
// vector, use the view within the one expression.
inline std::string_view view(const TagLib::ByteVector& bytes) {
    return {bytes.data(), bytes.size()};
}

// A byte vector holding a copy of bytes.
inline TagLib::ByteVector byteVector(std::string_view bytes) {
    return {bytes.data(), static_cast<unsigned>(bytes.size())};
}

}  // namespace kestrom::vbmp3
