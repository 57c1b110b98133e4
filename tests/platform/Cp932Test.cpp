// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Cp932.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace kestrom::platform;

namespace {

// Characters and their codes as Windows' published mapping of code page 932 has
// them. also: further codes that decode to the same character; Windows writes
// the JIS code where there is one, else the NEC row 13 code, else the IBM
// extension's code (0xFA40-0xFC4B), never the NEC selection of it (0xED40-0xEEFC).
struct Mapping {
    char16_t ch;
    const char* code;
    const char* also[2] = {};
};

// clang-format off
const Mapping kMappings[] = {
    // ASCII, with 0x5C and 0x7E as they are; half-width katakana ｡ ｶ ﾟ
    {u'A', "A"}, {u'\\', "\x5C"}, {u'~', "\x7E"}, {u'｡', "\xA1"}, {u'ｶ', "\xB6"}, {u'ﾟ', "\xDF"},
    // The ideographic space; full-width forms whose look-alikes map elsewhere: ＼ ～ ∥ － ￠ ￡ ￢
    {u'\u3000', "\x81\x40"}, {u'\uFF3C', "\x81\x5F"}, {u'\uFF5E', "\x81\x60"},
    {u'\u2225', "\x81\x61"}, {u'\uFF0D', "\x81\x7C"}, {u'\uFFE0', "\x81\x91"},
    {u'\uFFE1', "\x81\x92"}, {u'\uFFE2', "\x81\xCA", {"\xEE\xF9", "\xFA\x54"}},
    {u'≡', "\x81\xDF", {"\x87\x91"}}, {u'≒', "\x81\xE0", {"\x87\x90"}},
    {u'∵', "\x81\xE6", {"\x87\x9A", "\xFA\x5B"}},
    // Full-width letters, kana (ソ: 0x5C as the second byte), kanji
    {u'Ａ', "\x82\x60"}, {u'あ', "\x82\xA0"}, {u'ア', "\x83\x41"}, {u'ソ', "\x83\x5C"},
    {u'ポ', "\x83\x7C"}, {u'ヶ', "\x83\x96"}, {u'亜', "\x88\x9F"}, {u'桜', "\x8D\xF7"},
    {u'表', "\x95\x5C"}, {u'腕', "\x98\x72"}, {u'弌', "\x98\x9F"}, {u'熙', "\xEA\xA4"},
    // NEC row 13
    {u'①', "\x87\x40"}, {u'Ⅰ', "\x87\x54", {"\xFA\x4A"}}, {u'№', "\x87\x82", {"\xFA\x59"}},
    {u'℡', "\x87\x84", {"\xFA\x5A"}}, {u'㈱', "\x87\x8A", {"\xFA\x58"}},
    // The IBM extension: ⅰ ￤ ＇ ＂ 纊 黑
    {u'ⅰ', "\xFA\x40", {"\xEE\xEF"}}, {u'\uFFE4', "\xFA\x55", {"\xEE\xFA"}},
    {u'\uFF07', "\xFA\x56", {"\xEE\xFB"}}, {u'\uFF02', "\xFA\x57", {"\xEE\xFC"}},
    {u'纊', "\xFA\x5C", {"\xED\x40"}}, {u'黑', "\xFC\x4B", {"\xEE\xEC"}},
};
// clang-format on

}  // namespace

TEST(Cp932, UsesTheWindowsMapping) {
    for (const Mapping& m : kMappings) {
        const std::u16string ch(1, m.ch);
        SCOPED_TRACE(testing::Message() << "U+" << std::hex << std::uppercase << int{m.ch});
        EXPECT_EQ(cp932::encode(ch), m.code);
        EXPECT_EQ(cp932::encodeExact(m.ch), m.code);
        EXPECT_EQ(cp932::decode(m.code), ch);
        for (const char* other : m.also) EXPECT_EQ(other ? cp932::decode(other) : ch, ch);
    }
}

// A character outside the code page is "?" (the emoji one character), and not
// exact; WAVE DASH takes the FULLWIDTH TILDE's code one way only. A cut falls
// after the last whole character and counts the UTF-16 units it took.
TEST(Cp932, CharactersOutsideTheCodePageAndCuts) {
    EXPECT_EQ(cp932::encode(u"é♥한🎵\u301C"), "????\x81\x60");
    for (const char16_t ch : {u'é', u'\u301C'}) EXPECT_EQ(cp932::encodeExact(ch), "");
    EXPECT_EQ(cp932::encodeExact(u'\0'), std::string(1, '\0'));
    for (const auto& [text, limit, cut] :
         {std::tuple{u"aあい", 4u, "a\x82\xA0|2"}, {u"a🎵b", 2u, "a?|3"}, {u"aあ", 2u, "a|1"}}) {
        const cp932::Cut c = cp932::encodeCut(text, limit);
        EXPECT_EQ(c.bytes + "|" + std::to_string(c.units), cut);
    }
}
