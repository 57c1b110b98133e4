// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Normalization.h"

#include <utf8proc.h>

#include <vector>

namespace kestrom::platform {
namespace {

void toPoints(const std::vector<utf8proc_int32_t>& buffer, std::size_t length,
              std::u32string& out) {
    out.resize(length);
    for (std::size_t i = 0; i < length; ++i) out[i] = static_cast<char32_t>(buffer[i]);
}

}  // namespace

bool decomposeCanonically(std::string_view utf8, std::u32string& out) {
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(utf8.data());
    const auto size = static_cast<utf8proc_ssize_t>(utf8.size());
    constexpr auto kDecompose =
        static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_DECOMPOSE);
    // A name is at most 255 bytes, and its decomposition rarely longer: the
    // first try nearly always does.
    thread_local std::vector<utf8proc_int32_t> buffer(256);
    utf8proc_ssize_t length = utf8proc_decompose(
        bytes, size, buffer.data(), static_cast<utf8proc_ssize_t>(buffer.size()), kDecompose);
    if (length > static_cast<utf8proc_ssize_t>(buffer.size())) {
        buffer.resize(static_cast<std::size_t>(length));
        length = utf8proc_decompose(bytes, size, buffer.data(), length, kDecompose);
    }
    if (length < 0) return false;
    toPoints(buffer, static_cast<std::size_t>(length), out);
    return true;
}

bool composeCanonically(std::u32string& text) {
    thread_local std::vector<utf8proc_int32_t> buffer;
    buffer.assign(text.begin(), text.end());
    constexpr auto kCompose = static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE);
    const utf8proc_ssize_t length = utf8proc_normalize_utf32(
        buffer.data(), static_cast<utf8proc_ssize_t>(buffer.size()), kCompose);
    if (length < 0) return false;
    toPoints(buffer, static_cast<std::size_t>(length), text);
    return true;
}

}  // namespace kestrom::platform
