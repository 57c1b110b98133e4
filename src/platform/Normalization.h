// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

// Unicode's canonical normalisation, as the system provides it: utf8proc on
// Linux, NormalizeString on Windows. Names fold through it (see foldName).
namespace kestrom::platform {

// The canonical decomposition (NFD) of valid UTF-8, as code points into out;
// false when it cannot be made.
bool decomposeCanonically(std::string_view utf8, std::u32string& out);

// The canonical composition (NFC) of text, in place; false when it cannot be
// made, text then as it was.
bool composeCanonically(std::u32string& text);

}  // namespace kestrom::platform
