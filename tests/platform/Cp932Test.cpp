// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Cp932.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace kestrom::platform;

TEST(Cp932, UsesTheWindowsMapping) {
    const std::u16string text = u"\\~～カラオケｶ";
    const std::string bytes = "\x5C\x7E\x81\x60\x83\x4A\x83\x89\x83\x49\x83\x50\xB6";
    EXPECT_EQ(cp932::encode(text), bytes);
    EXPECT_EQ(cp932::decode(bytes), text);
    EXPECT_EQ(cp932::encode(u"ソ表ポ"), "\x83\x5C\x95\x5C\x83\x7C");
}

TEST(Cp932, CharactersOutsideTheCodePage) {
    EXPECT_EQ(cp932::encode(u"é♥한🎵"), "????");  // the emoji is one character
    EXPECT_EQ(cp932::encodeExact(u'é'), "");
    EXPECT_EQ(cp932::encodeExact(u'A'), "A");
    EXPECT_EQ(cp932::encodeExact(u'\0'), std::string(1, '\0'));
    EXPECT_EQ(cp932::encodeExact(u'ア'), "\x83\x41");
    // WAVE DASH takes the FULLWIDTH TILDE's code one way only, so it is not exact.
    EXPECT_EQ(cp932::encode(u"\u301C"), "\x81\x60");
    EXPECT_EQ(cp932::encodeExact(u'\u301C'), "");
}

TEST(Cp932, EveryExactCharacterRoundTrips) {
    int exact = 0;
    for (unsigned c = 0; c < 0x10000; ++c) {
        const std::string bytes = cp932::encodeExact(static_cast<char16_t>(c));
        if (bytes.empty()) continue;
        ++exact;
        ASSERT_EQ(cp932::decode(bytes), std::u16string(1, static_cast<char16_t>(c)))
            << std::hex << c;
        if (bytes.size() == 2) {
            EXPECT_TRUE(cp932::isLeadByte(static_cast<unsigned char>(bytes[0])));
        }
    }
    EXPECT_GT(exact, 7000);  // JIS X 0208 and the Windows extensions
}

TEST(Cp932, CutsAfterTheLastWholeCharacter) {
    for (const auto& [text, limit, bytes, units] :
         {std::tuple<std::u16string, std::size_t, std::string, std::size_t>{u"aあい", 4,
                                                                            "a\x82\xA0", 2},
          {u"a🎵b", 2, "a?", 3},
          {u"aあ", 2, "a", 1}}) {
        const cp932::Cut cut = cp932::encodeCut(text, limit);
        EXPECT_EQ(cut.bytes, bytes);
        EXPECT_EQ(cut.units, units);
    }
}
