// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "platform/Cp932.h"
#include "vbmp3/BlockText.h"
#include "vbmp3/TagText.h"

using namespace kestrom;

namespace {

struct Cut {
    std::u16string text;
    std::size_t capacity;
    std::string bytes;
};

struct Legacy {
    std::string bytes;
    std::u16string text;
};

void PrintTo(const Cut& c, std::ostream* os) {
    *os << testing::PrintToString(c.bytes);
}
void PrintTo(const Legacy& l, std::ostream* os) {
    *os << testing::PrintToString(l.bytes);
}

class BlockTextCut : public testing::TestWithParam<Cut> {};
class LegacyBytes : public testing::TestWithParam<Legacy> {};

}  // namespace

TEST_P(BlockTextCut, EscapesAndCutsOnWholeCharacters) {
    const std::string bytes = vbmp3::toBlockText(GetParam().text, GetParam().capacity);
    EXPECT_EQ(bytes, GetParam().bytes);
    // What the program's record keeps: code page 932 decoded and encoded again.
    EXPECT_EQ(platform::cp932::encode(platform::cp932::decode(bytes)), bytes);
    const std::u16string back = vbmp3::fromBlockText(bytes);
    EXPECT_EQ(back, GetParam().text.substr(0, back.size()));
}

// "\177" is 0x7F, the escape's introducer.
INSTANTIATE_TEST_SUITE_P(
    Vbmp3, BlockTextCut,
    testing::Values(Cut{u"\u301C\\~", 128, "\177301C\\~"},  // one-way WAVE DASH
                    Cut{u"🎵!", 128, "\177D83C\177DFB5!"},   // a surrogate pair
                    Cut{u"\1770041", 128, "\177007F0041"},  // the introducer
                    Cut{u"あいう", 5, "\x82\xA0\x82\xA2"},  // never half a character
                    Cut{u"aé", 5, "a"},                     // never half an escape
                    Cut{u"🎵", 9, ""}));

TEST(Vbmp3Text, MalformedEscapesStayText) {
    EXPECT_EQ(vbmp3::fromBlockText("\17712G4\1770000\17712"), u"\17712G4\1770000\17712");
    EXPECT_EQ(vbmp3::fromBlockText(std::string("ab\0\1770041", 8)), u"ab");
}

TEST_P(LegacyBytes, ShiftJisOnlyWhereItFormsJapaneseText) {
    EXPECT_EQ(vbmp3::toUtf16(vbmp3::decodeLegacy(GetParam().bytes)), GetParam().text);
}

// The fixtures hold more: kana, kanji with 0x5C, a cut character, accents.
INSTANTIATE_TEST_SUITE_P(
    Vbmp3, LegacyBytes,
    testing::Values(Legacy{"\xB6\xD7\xB5\xB9", u"ｶﾗｵｹ"},   // half-width katakana
                    Legacy{"Can\347\365es", u"Canções"},   // a rare kanji's bytes
                    Legacy{"\247 \311t\351", u"§ Été"}));  // one katakana
