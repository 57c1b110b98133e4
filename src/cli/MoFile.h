// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Posix.h"

namespace kestrom::cli {

// A compiled message catalogue (a .mo file, as msgfmt writes it from
// po/<language>.po), read whole into memory: where the system has no gettext,
// kestrom-cli looks its texts up here.
class MoFile {
public:
    // The catalogue at path, read through posix; nothing when it cannot be read
    // or is not a well-formed catalogue (then the texts stay in English).
    static std::optional<MoFile> read(platform::Posix& posix, const std::string& path);

    // The translation of english; nothing when the catalogue has none.
    std::optional<std::string> find(std::string_view english) const;
    // The translation, for the count n, of the text whose English forms are
    // singular and plural. A catalogue with one form (Japanese) has it for
    // every n; otherwise the first form is taken for 1, the second for the rest.
    std::optional<std::string> findPlural(std::string_view singular, std::string_view plural,
                                          std::size_t n) const;

private:
    std::map<std::string, std::string, std::less<>> m_texts;  // msgid (NUL-joined forms) -> msgstr
    bool m_oneForm = false;
};

}  // namespace kestrom::cli
