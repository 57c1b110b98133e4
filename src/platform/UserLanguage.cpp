// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/UserLanguage.h"

#include <string_view>

namespace kestrom::platform {

bool prefersJapanese(const char* lcAll, const char* lcMessages, const char* lang,
                     bool systemJapanese) {
    for (const char* value : {lcAll, lcMessages, lang})
        if (value != nullptr && *value != '\0') return std::string_view(value).starts_with("ja");
    return systemJapanese;
}

}  // namespace kestrom::platform
