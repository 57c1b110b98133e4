// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace kestrom::platform {

// Whether the user reads Japanese: the first of LC_ALL, LC_MESSAGES and LANG
// that is set and not empty decides, as it does for a POSIX program (a name
// beginning with "ja" is Japanese, any other, "C" too, is not); with none set,
// the system's language decides (systemJapanese). The arguments are the
// variables' values, null when unset.
bool prefersJapanese(const char* lcAll, const char* lcMessages, const char* lang,
                     bool systemJapanese);

#ifdef _WIN32
// prefersJapanese() for this process: its environment, then the user's
// Windows display language.
bool userPrefersJapanese();
#endif

}  // namespace kestrom::platform
