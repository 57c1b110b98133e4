// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Texts.h"

#include <vector>

namespace kestrom::platform {
namespace {

class Japanese : public Language {
public:
    std::string operator()(const Text& text) const override { return text.ja; }
};

class English : public Language {
public:
    std::string operator()(const Text& text) const override { return text.en; }
};

}  // namespace

const Language& japanese() {
    static const Japanese language;
    return language;
}

const Language& english() {
    static const English language;
    return language;
}

std::string format(std::string_view pattern, std::initializer_list<std::string_view> args) {
    const std::vector<std::string_view> values(args);
    std::string out;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char next = i + 1 < pattern.size() ? pattern[i + 1] : '\0';
        if (pattern[i] == '%' && next == '%') {
            out += '%';
            ++i;
        } else if (pattern[i] == '%' && next >= '1' && next <= '9' &&
                   static_cast<std::size_t>(next - '1') < values.size()) {
            out += values[static_cast<std::size_t>(next - '1')];
            ++i;
        } else {
            out += pattern[i];
        }
    }
    return out;
}

}  // namespace kestrom::platform
