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

const Mapping kMappings[] = {
    {u'A', "A"},
    {u'\\', "\x5C"},
    {u'~', "\x7E"},
    {u'\uFF61', "\xA1"},  // ｡ half-width katakana
    {u'\uFF76', "\xB6"},  // ｶ
    {u'\uFF9F', "\xDF"},  // ﾟ
    {u'\u3000', "\x81\x40"},
    {u'\uFF3C', "\x81\x5F"},                            // ＼
    {u'\uFF5E', "\x81\x60"},                            // ～
    {u'\u2225', "\x81\x61"},                            // ∥
    {u'\uFF0D', "\x81\x7C"},                            // －
    {u'\uFFE0', "\x81\x91"},                            // ￠
    {u'\uFFE1', "\x81\x92"},                            // ￡
    {u'\uFFE2', "\x81\xCA", {"\xEE\xF9", "\xFA\x54"}},  // ￢
    {u'\u2261', "\x81\xDF", {"\x87\x91"}},              // ≡
    {u'\u2252', "\x81\xE0", {"\x87\x90"}},              // ≒
    {u'\u2235', "\x81\xE6", {"\x87\x9A", "\xFA\x5B"}},  // ∵
    {u'\uFF10', "\x82\x4F"},                            // ０
    {u'\uFF21', "\x82\x60"},                            // Ａ
    {u'\uFF41', "\x82\x81"},                            // ａ
    {u'\u3042', "\x82\xA0"},                            // あ
    {u'\u3093', "\x82\xF1"},                            // ん
    {u'\u30A2', "\x83\x41"},                            // ア
    {u'\u30AB', "\x83\x4A"},                            // カ
    {u'\u30BD', "\x83\x5C"},                            // ソ: 0x5C as second byte
    {u'\u30DD', "\x83\x7C"},                            // ポ
    {u'\u30F6', "\x83\x96"},                            // ヶ
    {u'\u2460', "\x87\x40"},                            // ① NEC row 13
    {u'\u2160', "\x87\x54", {"\xFA\x4A"}},              // Ⅰ
    {u'\u3349', "\x87\x5F"},                            // ㍉
    {u'\u2116', "\x87\x82", {"\xFA\x59"}},              // №
    {u'\u2121', "\x87\x84", {"\xFA\x5A"}},              // ℡
    {u'\u3231', "\x87\x8A", {"\xFA\x58"}},              // ㈱
    {u'\u4E9C', "\x88\x9F"},                            // 亜
    {u'\u685C', "\x8D\xF7"},                            // 桜
    {u'\u8868', "\x95\x5C"},                            // 表
    {u'\u8155', "\x98\x72"},                            // 腕
    {u'\u5F0C', "\x98\x9F"},                            // 弌
    {u'\u7199', "\xEA\xA4"},                            // 熙
    {u'\u2170', "\xFA\x40", {"\xEE\xEF"}},              // ⅰ IBM extension
    {u'\uFFE4', "\xFA\x55", {"\xEE\xFA"}},              // ￤
    {u'\uFF07', "\xFA\x56", {"\xEE\xFB"}},              // ＇
    {u'\uFF02', "\xFA\x57", {"\xEE\xFC"}},              // ＂
    {u'\u7E8A', "\xFA\x5C", {"\xED\x40"}},              // 纊
    {u'\u9ED1', "\xFC\x4B", {"\xEE\xEC"}},              // 黑
};

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
    for (const auto& [text, limit, bytes, units] :
         {std::tuple<std::u16string, std::size_t, std::string, std::size_t>{u"aあい", 4,
                                                                            "a\x82\xA0", 2},
          {u"a🎵b", 2, "a?", 3},
          {u"aあ", 2, "a", 1}}) {
        const cp932::Cut cut = cp932::encodeCut(text, limit);
        EXPECT_EQ(cut.bytes + "|" + std::to_string(cut.units), bytes + "|" + std::to_string(units));
    }
}
