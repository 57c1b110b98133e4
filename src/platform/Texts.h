// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace kestrom::platform {

// A text that the program shows, in the two languages it is written in. The
// windows' translation files take the Japanese text as their source, the
// command line's message catalogue the English one; each front end shows the
// text in the user's language through its own catalogue (see Language).
// A text may hold %1, %2... for what format() puts in.
struct Text {
    const char* ja;
    const char* en;
};

// The user's language: what the user reads for a Text. The command line looks
// texts up in its gettext catalogue, the windows in their Qt translations.
class Language {
public:
    Language() = default;
    Language(const Language&) = delete;
    Language& operator=(const Language&) = delete;
    virtual ~Language() = default;
    virtual std::string operator()(const Text& text) const = 0;
};

// The texts as written, without a catalogue: the Japanese ones (what the
// windows show when no translation is loaded) and the English ones (what the
// command line shows when its catalogue has no entry).
const Language& japanese();
const Language& english();

// pattern with every %1, %2... %9 replaced by the argument of that number, so
// that a translation may place them in another order; "%%" is one "%".
std::string format(std::string_view pattern, std::initializer_list<std::string_view> args);

}  // namespace kestrom::platform
