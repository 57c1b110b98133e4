// SPDX-License-Identifier: GPL-3.0-or-later
// Folding names by case is tested through DirLookup, which is where it matters,
// and the display of names through kestrom-cli's error list; what makes two
// spellings of a name one name is tested here.
#include "platform/Text.h"
#include "platform/UserLanguage.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace kestrom::platform;

// Bytes that are not UTF-8 travel through UTF-16 unchanged, and never fold into
// the name that the same character in UTF-8 makes.
TEST(Text, NamesKeepTheirBytesThroughUtf16) {
    for (const std::string name : {"日本語.mp3", "\xFF\xFE.mp3", "cut\xE3\x81", "\xC0\xAF", "🎵"})
        EXPECT_EQ(toUtf8(toUtf16(name)), name) << name;
    EXPECT_NE(foldName("\xE9.mp3"), foldName("é.mp3"));
}

// Texts, unlike names, are valid UTF-8 or nothing: a byte that is not UTF-8
// leaves no escape in them.
TEST(Text, TextsAreValidUtf8) {
    EXPECT_EQ(fromValidUtf8("日本語 🎵"), u"日本語 🎵");
    EXPECT_EQ(fromValidUtf8("cut\xE3\x81"), std::nullopt);
    EXPECT_EQ(toValidUtf8(toUtf16("\xFF🎵")), "\xEF\xBF\xBD🎵");
}

// A name is shown on one line, with the system's own separator.
TEST(Text, NamesAreShownOnOneLineWithTheSystemsSeparator) {
#ifdef _WIN32
    const std::string path = "C:\\曲\\a.mp3";
#else
    const std::string path = "C:/曲/a.mp3";
#endif
    for (const auto& [name, shown] : {std::pair<std::string, std::string>{"C:/曲/a.mp3", path},
                                      {"a\nb\x7F", "a\\x0Ab\\x7F"},
                                      {"\xFF.mp3", "\\xFF.mp3"}})
        EXPECT_EQ(displayName(name), shown) << name;
}

// A name and its decomposed spelling, as a Mac writes names, are one name, in
// any letter case; the folded form of a composed name is its upper case, so
// listings keep their order. Names that only look alike stay apart.
TEST(Text, CanonicallyEquivalentNamesFoldAlike) {
    for (const auto& [a, b, same] :
         {std::tuple{"Café.mp3", "CAFE\u0301.MP3", true},          // É composed, e + U+0301
          {"がっこう", "か\u3099っこう", true},                    // が = か + U+3099
          {"パン", "ハ\u309Aン", true},                            // パ = ハ + U+309A
          {"한글", "\u1112\u1161\u11AB\u1100\u1173\u11AF", true},  // Hangul syllables, jamo
          {"Å", "\u212B", true},                                   // the Angstrom sign is Å
          {"ǰ", "J\u030C", true},            // no composed upper case: compared decomposed
          {"\xFF_e\u0301", "\xFF_É", true},  // a stray byte before a decomposed é
          {"e", "é", false},
          {"ß", "SS", false},
          {"ｶﾞ", "ガ", false},             // half-width kana are a compatibility form, not the same
          {"\xCC\x81", "\xCC", false}}) {  // a lone combining mark is no stray byte
        EXPECT_EQ(foldName(a) == foldName(b), same) << a << " " << b;
    }
    EXPECT_EQ(foldName("é"), u"É");
    EXPECT_EQ(foldName("e\u0301\xFF"), u"É\xDCFF");
}

// The first locale variable set decides, else the system's language; a
// variable set to nothing counts as unset, as it does for gettext.
TEST(UserLanguage, FirstLocaleVariableSetDecidesElseTheSystem) {
    for (const auto& [lcAll, lcMessages, lang, system, japanese] :
         {std::tuple<const char*, const char*, const char*, bool, bool>{nullptr, nullptr, nullptr,
                                                                        true, true},
          {nullptr, nullptr, nullptr, false, false},
          {nullptr, nullptr, "ja_JP.UTF-8", false, true},
          {nullptr, nullptr, "C", true, false},
          {"", "", "ja", false, true},
          {nullptr, "en_US.UTF-8", "ja_JP.UTF-8", true, false},
          {"ja_JP.UTF-8", "en_US.UTF-8", "C", false, true},
          {"C", nullptr, "ja_JP.UTF-8", true, false}}) {
        EXPECT_EQ(prefersJapanese(lcAll, lcMessages, lang, system), japanese)
            << (lcAll ? lcAll : "-") << " " << (lcMessages ? lcMessages : "-") << " "
            << (lang ? lang : "-") << " " << system;
    }
}
