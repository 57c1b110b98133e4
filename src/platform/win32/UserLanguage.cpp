// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/UserLanguage.h"

#include <windows.h>

#include <cstdlib>

namespace kestrom::platform {

bool userPrefersJapanese() {
    // A Windows program has no locale variables of its own, but a user who
    // sets them (a POSIX shell on Windows) means them.
    return prefersJapanese(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG"),
                           PRIMARYLANGID(::GetUserDefaultUILanguage()) == LANG_JAPANESE);
}

}  // namespace kestrom::platform
