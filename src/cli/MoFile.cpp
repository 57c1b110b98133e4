// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/MoFile.h"

#include <cstdint>

#include "platform/FileOps.h"
#include "platform/LittleEndian.h"

namespace kestrom::cli {
namespace {

constexpr std::uint32_t kMagic = 0x950412de;
// A catalogue is a few kilobytes; a larger file is no catalogue of ours.
constexpr std::size_t kMaxSize = 1 << 20;

}  // namespace

std::optional<MoFile> MoFile::read(platform::Posix& posix, const std::string& path) {
    std::string bytes;
    if (platform::readFile(posix, path, kMaxSize, bytes) != 0 || bytes.size() < 20)
        return std::nullopt;
    // msgfmt writes the numbers in its machine's byte order; the magic number
    // tells which.
    const std::string_view view(bytes);
    const bool swapped = platform::littleEndian(view.substr(0, 4)) != kMagic;
    const auto number = [&](std::size_t at) -> std::optional<std::size_t> {
        if (at > view.size() || view.size() - at < 4) return std::nullopt;
        std::string word(view.substr(at, 4));
        if (swapped) word = std::string(word.rbegin(), word.rend());
        return static_cast<std::size_t>(platform::littleEndian(word));
    };
    if (swapped && number(0) != kMagic) return std::nullopt;
    const auto count = number(8);
    const auto originals = number(12);
    const auto translations = number(16);
    if (!count || !originals || !translations || *count > view.size() / 8) return std::nullopt;
    // The string at the table entry of index i: its length, then its offset.
    const auto string = [&](std::size_t table, std::size_t i) -> std::optional<std::string_view> {
        const auto length = number(table + 8 * i);
        const auto offset = number(table + 8 * i + 4);
        if (!length || !offset || *offset > view.size() || view.size() - *offset < *length)
            return std::nullopt;
        return view.substr(*offset, *length);
    };
    MoFile file;
    for (std::size_t i = 0; i < *count; ++i) {
        const auto original = string(*originals, i);
        const auto translation = string(*translations, i);
        if (!original || !translation) return std::nullopt;
        file.m_texts.emplace(*original, *translation);
    }
    // The header, the translation of the empty text, names the plural forms.
    if (const auto header = file.find(""))
        file.m_oneForm = header->find("nplurals=1;") != std::string::npos;
    return file;
}

std::optional<std::string> MoFile::find(std::string_view english) const {
    const auto found = m_texts.find(english);
    if (found == m_texts.end() || found->second.empty()) return std::nullopt;
    return found->second;
}

std::optional<std::string> MoFile::findPlural(std::string_view singular, std::string_view plural,
                                              std::size_t n) const {
    std::string key(singular);
    key += '\0';
    key += plural;
    const auto found = m_texts.find(key);
    if (found == m_texts.end()) return std::nullopt;
    // The forms, each ended by a NUL but the last.
    std::string_view forms = found->second;
    for (std::size_t form = m_oneForm || n == 1 ? 0 : 1; form > 0; --form) {
        const std::size_t end = forms.find('\0');
        if (end == std::string_view::npos) return std::nullopt;
        forms.remove_prefix(end + 1);
    }
    const std::string_view text = forms.substr(0, forms.find('\0'));
    if (text.empty()) return std::nullopt;
    return std::string(text);
}

}  // namespace kestrom::cli
